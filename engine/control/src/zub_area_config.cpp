#include "zub_area_config.h"

#include <tinyxml2.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "zub_anchor.h"
#include "zub_context.h"
#include "zub_number_text.h"
#include "zub_print.h"

using tinyxml2::XML_SUCCESS;
using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

namespace {

// Area records are kept for the life of the process: zeroed, never freed once queued.
template <class T>
T* new_record()
{
    return static_cast<T*>(std::calloc(1, sizeof(T)));
}

e_sub_area_type type_of(const char* value)
{
    if (std::strcmp(value, "single") == 0) return ZUB_SUB_AREA_TYPE_SIINGLE;
    if (std::strcmp(value, "corridor") == 0) return ZUB_SUB_AREA_TYPE_CORRIDOR;
    return ZUB_SUB_AREA_TYPE_MULTI;
}

void read_areas(const XMLDocument& doc, const char* name)
{
    const XMLElement* root = doc.RootElement();
    if (root == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "FirstChildElement failed.");
        return;
    }
    context_t* c = zub_context();
    for (const XMLElement* e = root->FirstChildElement("Area"); e != nullptr; e = e->NextSiblingElement("Area")) {
        area_t* area = new_record<area_t>();
        if (area == nullptr) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "%s: no memory for an area.", name);
            return;
        }
        qk_queue_init(&area->sub_area);
        if (ReadAreaConfig_area(e, *area) != 0) {
            std::free(area);
            continue;
        }
        if (Anchor* anchor = Anchor::zub_get_anchor_by_hardware_id(area->id)) {
            anchor->area = area;
        }
        qk_queue_push(&c->areas, &area->node);
    }
}

int finish(int rc)
{
    printAreaConfig();
    return rc;
}

}  // namespace

void ReadAreaConfig()
{
    zub_read_area_config_file("area_config.xml");
}

int zub_read_area_config_file(const char* path)
{
    qk_queue_init(&zub_context()->areas);
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.LoadFile(path) != XML_SUCCESS) {
        ZUB_PRINT(ZUB_PRINT_EVENT, "load file %s failed.", path);
        return finish(-1);
    }
    if (doc.RootElement() == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "FirstChildElement failed.");
        return finish(-1);
    }
    read_areas(doc, path);
    return finish(0);
}

int zub_read_area_config_text(const char* text, size_t len)
{
    qk_queue_init(&zub_context()->areas);
    XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
    if (doc.Parse(text, len) != XML_SUCCESS) {
        ZUB_PRINT(ZUB_PRINT_EVENT, "load file %s failed.", "area_config.xml");
        return finish(-1);
    }
    if (doc.RootElement() == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "FirstChildElement failed.");
        return finish(-1);
    }
    read_areas(doc, "area_config.xml");
    return finish(0);
}

int ReadAreaConfig_area(const XMLElement* element, area_t& area)
{
    WORD64 id = 0;
    const char* text = element->Attribute("AreaId");
    if (text == nullptr) {
        return -1;
    }
    if (!zub_parse_hex64(text, &id)) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "area_config.xml: AreaId \"%.32s\" is not a hexadecimal id.", text);
        return -1;
    }
    area.id = id;
    for (const XMLElement* sub = element->FirstChildElement(); sub != nullptr; sub = sub->NextSiblingElement()) {
        ReadAreaConfig_subArea(sub, area);
    }
    return 0;
}

void ReadAreaConfig_subArea(const XMLElement* element, area_t& area)
{
    sub_area_t* sub = new_record<sub_area_t>();
    if (sub == nullptr) {
        return;
    }
    qk_queue_init(&sub->points);
    sub->type = ZUB_SUB_AREA_TYPE_MULTI;
    for (const XMLElement* e = element->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        if (std::strcmp(e->Value(), "Type") == 0) {
            if (const char* value = e->Attribute("value")) {
                sub->type = type_of(value);
            }
        } else if (std::strcmp(e->Value(), "Point") == 0) {
            point_t* p = new_record<point_t>();
            if (p == nullptr) {
                continue;
            }
            e->QueryFloatAttribute("x", &p->x);
            e->QueryFloatAttribute("y", &p->y);
            e->QueryFloatAttribute("z", &p->z);
            qk_queue_push(&sub->points, &p->node);
            if (!std::isfinite(p->x) || !std::isfinite(p->y) || !std::isfinite(p->z)) {
                // No position lies inside such a rectangle, nor outside it: the sub-area means nothing.
                ZUB_PRINT(ZUB_PRINT_ERROR,
                          "area_config.xml: area %lX: sub-area %s has the point (%f, %f, %f), which is not finite; "
                          "the sub-area is skipped.",
                          area.id, element->Value(), p->x, p->y, p->z);
                qk_queue_free(&sub->points);
                std::free(sub);
                return;
            }
        }
    }
    qk_queue_push(&area.sub_area, &sub->node);
}

void printAreaConfig()
{
    for (node_t* n = zub_context()->areas.head; n != nullptr; n = n->next) {
        const area_t* area = reinterpret_cast<const area_t*>(n);
        ZUB_PRINT(ZUB_PRINT_EVENT, "AreaID = %lX", area->id);
        for (node_t* s = area->sub_area.head; s != nullptr; s = s->next) {
            const sub_area_t* sub = reinterpret_cast<const sub_area_t*>(s);
            ZUB_PRINT(ZUB_PRINT_EVENT, "|-- SubArea type = %d.", static_cast<int>(sub->type));
            for (node_t* p = sub->points.head; p != nullptr; p = p->next) {
                const point_t* pt = reinterpret_cast<const point_t*>(p);
                ZUB_PRINT(ZUB_PRINT_EVENT, "|-- Point(%f, %f, %f).", pt->x, pt->y, pt->z);
            }
        }
        ZUB_PRINT(ZUB_PRINT_EVENT, "|-------");
    }
}
