// zub_config.h - the engine's main configuration "vm_zub.xml": its defaults, its reader and
// the element readers of the sibling elements, and the log level switch.
//
// The loaders run on the control job's thread at power-on, before the first start event is
// queued (the platform queue that carries that event publishes what they wrote to every other
// job); log_level_set runs again later on the same thread for the controller's log requests.
#pragma once

#include <cstddef>

namespace tinyxml2 {
class XMLElement;
}

// Writes every default of the configuration (log level 3 included).
void zub_set_default_config();
// The defaults, then "vm_zub.xml" of the working directory.
void ReadConfiguration();
// The defaults, then the file at `path`: 0 when it was read, -1 when it could not be loaded
// or parsed (the defaults then stand, and it is logged).
int zub_read_configuration_file(const char* path);
// The same over text in memory (the fuzz target's entry).
int zub_read_configuration_text(const char* text, size_t len);

// log_ctrl.log_level = level, its vector level (4 -> 2, 3 -> 1, else 0) and the print flag.
void log_level_set(int level);

// Readers of the sibling elements that follow the main element.
void zub_cfg_dac_interface_get(const tinyxml2::XMLElement* element);
void zub_cfg_displayer_get(const tinyxml2::XMLElement* element);
void zub_cfg_clocksync_get(const tinyxml2::XMLElement* element);
void zub_cfg_logctrl_get(const tinyxml2::XMLElement* element);
