// zub_area_config.h - the area file "area_config.xml": per anchor hardware id an area of
// sub-areas (type and corner points), kept in the context's `areas` queue and linked to the
// anchor; and the dump of what was read to the engine log.
//
// Control job's thread, at power-on before the jobs start; the records are never changed or
// freed afterwards.
#pragma once

#include <cstddef>

#include "zub_area.h"

namespace tinyxml2 {
class XMLElement;
}

// "area_config.xml" of the working directory, then printAreaConfig().
void ReadAreaConfig();
// The same for the file at `path`; 0 when read, -1 when it could not be loaded or holds no root.
int zub_read_area_config_file(const char* path);
// The same over text in memory (the fuzz target's entry).
int zub_read_area_config_text(const char* text, size_t len);

// Reads one "Area" element into `area`: -1 (nothing read) when it has no "AreaId", else 0.
int ReadAreaConfig_area(const tinyxml2::XMLElement* element, area_t& area);
// Appends the sub-area that `element` describes to `area`.
void ReadAreaConfig_subArea(const tinyxml2::XMLElement* element, area_t& area);
// Writes every area with its sub-areas and points to the engine log.
void printAreaConfig();
