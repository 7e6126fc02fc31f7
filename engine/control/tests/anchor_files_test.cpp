// The anchor lists and the area file.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "control_test_support.h"
#include "RTLSControlHandler.h"
#include "zub_anchor_list.h"
#include "zub_area_config.h"
#include "zub_context.h"
#include "zub_public.h"

namespace {

std::string ip_of(const Anchor* a)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a->ip, text, sizeof text);
    return text;
}

class engine_control_AnchorFiles : public ::testing::Test {
protected:
    ctl::TempDir dir;
    ctl::FakePorts ports;
    context_t* c = zub_context();

    void load(const std::string& dns, const std::string* attributes = nullptr)
    {
        dir.write("dns_zub.cfg", dns);
        if (attributes != nullptr) {
            dir.write("anchor_attribute.cfg", *attributes);
        }
        RTLSControlHandler::Instance()->load_anchor_cfg();
    }
};

TEST_F(engine_control_AnchorFiles, ListedAnchorsAreMappedAndInitialised)
{
    const WORD16 before = c->anchor_count;
    c->anchorListenPort = 3000;
    // An id listed twice counts once and keeps the later address; the last entry has no newline.
    load("a1000001 10.0.0.1\nA1000002\t10.0.0.2\n a1000001   10.0.0.9\n0xa1000003 10.0.0.3");
    EXPECT_FALSE(c->enable_mdns);
    EXPECT_EQ(c->anchor_count, before + 3);
    struct Row { WORD64 hw; const char* ip; };
    for (const Row& r : {Row{0xa1000001, "10.0.0.9"}, Row{0xa1000002, "10.0.0.2"}, Row{0xa1000003, "10.0.0.3"}}) {
        SCOPED_TRACE(r.ip);
        Anchor* a = Anchor::zub_get_anchor_by_hardware_id(r.hw);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->hardware_id, r.hw);
        EXPECT_EQ(a->id, zub_search_anchor_id(r.hw));
        EXPECT_EQ(ip_of(a), r.ip);
        EXPECT_EQ(a->port, 3000);
        EXPECT_EQ(a->lag_delay, 20000);
    }
}

TEST_F(engine_control_AnchorFiles, MissingListSetsMdnsAndSkipsTheAttributeFile)
{
    ctl::Prints prints;
    const std::string attributes = "a2000001 1\n";
    dir.write("anchor_attribute.cfg", attributes);
    RTLSControlHandler::Instance()->load_anchor_cfg();
    EXPECT_TRUE(c->enable_mdns);
    EXPECT_EQ(prints.count_of("read 'anchor_attribute.cfg' failed"), 0u);

    std::remove("anchor_attribute.cfg");
    load("a2000001 10.0.1.1\n");
    EXPECT_FALSE(c->enable_mdns);
    EXPECT_EQ(prints.count_of("read 'anchor_attribute.cfg' failed"), 1u);
}

TEST_F(engine_control_AnchorFiles, ModesOfKnownAnchors)
{
    ctl::Prints prints;
    // A mode other than 0, 1 or 2 (258 would keep its low 8 bits: 2) is logged and skipped.
    const std::string attributes =
        "a3000001 1\na3000002 2\nffff0000 1\na3000003 258\na3000004 x\na3000005 3\na3000005 1 a3000006 0\n";
    load("a3000001 10.0.2.1\na3000002 10.0.2.2\na3000003 10.0.2.3\na3000004 10.0.2.4\na3000005 10.0.2.5\n"
         "a3000006 10.0.2.6\n",
         &attributes);
    struct Row { WORD64 hw; BYTE mode; };
    for (const Row& r : {Row{0xa3000001, 1}, Row{0xa3000002, 2}, Row{0xa3000003, 0}, Row{0xa3000004, 0},
                         Row{0xa3000005, 1}, Row{0xa3000006, 0}}) {
        SCOPED_TRACE(r.hw);
        EXPECT_EQ(Anchor::zub_get_anchor_by_hardware_id(r.hw)->mode, r.mode);
    }
    EXPECT_EQ(Anchor::zub_get_anchor_by_hardware_id(0xffff0000), nullptr);
    EXPECT_EQ(prints.count_of("anchor_attribute.cfg line 4: mode 258 of anchor a3000003 is not 0, 1 or 2; entry "
                              "skipped, the anchor keeps its mode."),
              1u);
    EXPECT_EQ(prints.count_of("anchor_attribute.cfg line 6: mode 3 of anchor a3000005 is not 0, 1 or 2; entry "
                              "skipped, the anchor keeps its mode."),
              1u);
}

TEST_F(engine_control_AnchorFiles, MalformedEntriesAreSkippedAndReadingGoesOn)
{
    ctl::Prints prints;
    const WORD16 before = c->anchor_count;
    const std::string long_token(10000, '7');
    struct Row { std::string line; bool taken; };
    // Each malformed line is followed by a good one, which must be read.
    const std::string text =
        long_token + " 10.0.3.1\n" +                 // an over-long id
        "a4000001 " + long_token + "\n" +            // an over-long address
        "nothex 10.0.3.2 more\n" +                   // not hexadecimal
        "a4000002 10.0.3.300\n" +                    // not an address
        "a4000003 1.2.3\n" +                         // not dotted four parts
        "a4000004\n" +                               // the address missing
        "a4000005 10.0.3.5\n" +                      // good
        "1ffffffffffffffff 10.0.3.6\n" +             // id beyond 64 bits
        "a4000007 10.0.3.7 trailing\n" +             // good entry; "trailing" is not an id
        "a4000008 10.0.3.8";                         // good, no newline at the end
    load(text);
    EXPECT_EQ(c->anchor_count, before + 3);
    for (WORD64 hw : {0xa4000001ull, 0xa4000002ull, 0xa4000003ull, 0xa4000004ull}) {
        EXPECT_EQ(Anchor::zub_get_anchor_by_hardware_id(hw), nullptr) << std::hex << hw;
    }
    EXPECT_EQ(ip_of(Anchor::zub_get_anchor_by_hardware_id(0xa4000005)), "10.0.3.5");
    EXPECT_EQ(ip_of(Anchor::zub_get_anchor_by_hardware_id(0xa4000007)), "10.0.3.7");
    EXPECT_EQ(ip_of(Anchor::zub_get_anchor_by_hardware_id(0xa4000008)), "10.0.3.8");
    EXPECT_GE(prints.lines().size(), 7u);
}

class engine_control_AreaFile : public engine_control_AnchorFiles {};

// Entry i of a list whose entries begin with their node; null past its end.
template <class T>
const T* nth(const queue_t& list, unsigned i)
{
    node_t* n = list.head;
    while (n != nullptr && i-- > 0) {
        n = n->next;
    }
    return reinterpret_cast<const T*>(n);
}

const area_t* area_at(unsigned i) { return nth<area_t>(zub_context()->areas, i); }
const sub_area_t* sub_at(const area_t* a, unsigned i) { return nth<sub_area_t>(a->sub_area, i); }

TEST_F(engine_control_AreaFile, AreasSubAreasAndPoints)
{
    load("b5000001 10.0.4.1\nb5000002 10.0.4.2\n");
    dir.write("area_config.xml",
              "<Areas>"
              "<Area><Sub><Type value=\"single\"/></Sub></Area>"                     // no AreaId
              "<Area AreaId=\"b5000001\">"
              "  <S1><Type value=\"single\"/><Point x=\"1\" y=\"2\" z=\"3\"/><Point x=\"4\"/></S1>"
              "  <S2><Type value=\"corridor\"/><Type/><Other/></S2>"                  // "Type" without value skipped
              "  <S3><Type value=\"hall\"/></S3>"
              "  <S4/>"
              "  <S5><Type value=\"single\"/><Type value=\"corridor\"/></S5>"        // the later one wins
              "</Area>"
              "<Zone AreaId=\"b5000002\"/>"                                           // not an Area
              "<Area AreaId=\"c6000009\"><S/></Area>"                                 // unknown anchor: kept
              "<Area AreaId=\"B5000001\"><S><Point y=\"7.5\"/></S></Area>"            // same id: takes over
              "</Areas>");
    ctl::Prints prints;
    ReadAreaConfig();
    ASSERT_EQ(c->areas.count, 3);
    const area_t* first = area_at(0);
    EXPECT_EQ(first->id, 0xb5000001u);
    ASSERT_EQ(first->sub_area.count, 5);
    struct Row { unsigned index; e_sub_area_type type; int points; };
    for (const Row& r : {Row{0, ZUB_SUB_AREA_TYPE_SIINGLE, 2}, Row{1, ZUB_SUB_AREA_TYPE_CORRIDOR, 0},
                         Row{2, ZUB_SUB_AREA_TYPE_MULTI, 0}, Row{3, ZUB_SUB_AREA_TYPE_MULTI, 0},
                         Row{4, ZUB_SUB_AREA_TYPE_CORRIDOR, 0}}) {
        SCOPED_TRACE(r.index);
        EXPECT_EQ(sub_at(first, r.index)->type, r.type);
        EXPECT_EQ(sub_at(first, r.index)->points.count, r.points);
    }
    const point_t* p0 = reinterpret_cast<const point_t*>(sub_at(first, 0)->points.head);
    const point_t* p1 = reinterpret_cast<const point_t*>(p0->node.next);
    EXPECT_EQ((std::vector<float>{p0->x, p0->y, p0->z, p1->x, p1->y, p1->z}),
              (std::vector<float>{1, 2, 3, 4, 0, 0}));
    EXPECT_EQ(area_at(1)->id, 0xc6000009u);
    EXPECT_EQ(Anchor::zub_get_anchor_by_hardware_id(0xb5000001)->area, area_at(2));
    EXPECT_EQ(Anchor::zub_get_anchor_by_hardware_id(0xb5000002)->area, nullptr);

    const std::vector<std::string> expected_tail = {
        "AreaID = C6000009", "|-- SubArea type = 0.", "|-------",
        "AreaID = B5000001", "|-- SubArea type = 0.", "|-- Point(0.000000, 7.500000, 0.000000).", "|-------",
    };
    const auto lines = prints.lines();
    ASSERT_GE(lines.size(), expected_tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(expected_tail.size()), lines.end()), expected_tail);
    EXPECT_EQ(lines[0], "AreaID = B5000001");
    EXPECT_EQ(lines[1], "|-- SubArea type = 1.");
    EXPECT_EQ(lines[2], "|-- Point(1.000000, 2.000000, 3.000000).");
}

TEST_F(engine_control_AreaFile, SubAreasWithAPointThatIsNotFiniteAreSkipped)
{
    struct Row { const char* point; bool kept; const char* shown; };  // the point as the line shows it
    const Row rows[] = {
        {"x=\"1\" y=\"2\" z=\"3\"", true, nullptr},
        {"x=\"nan\" y=\"2\"", false, "(nan, 2.000000, 0.000000)"},
        {"x=\"1\" y=\"inf\"", false, "(1.000000, inf, 0.000000)"},
        {"z=\"-inf\"", false, "(0.000000, 0.000000, -inf)"},
        {"y=\"1e39\"", false, "(0.000000, inf, 0.000000)"},  // beyond a float
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.point);
        dir.write("area_config.xml", std::string("<Areas><Area AreaId=\"b6000001\">"
                                                 "<S><Point x=\"0\" y=\"0\"/><Point ") +
                                         r.point + "/></S><T><Point x=\"5\"/></T></Area></Areas>");
        ctl::Prints prints;
        ReadAreaConfig();
        ASSERT_EQ(c->areas.count, 1);
        const area_t* area = area_at(0);
        // The other sub-area stays, whatever became of the first.
        ASSERT_EQ(area->sub_area.count, r.kept ? 2 : 1);
        EXPECT_EQ(sub_at(area, r.kept ? 1 : 0)->points.count, 1);
        const std::string line = std::string("area_config.xml: area B6000001: sub-area S has the point ") +
                                 (r.shown != nullptr ? r.shown : "") + ", which is not finite; the sub-area is skipped.";
        EXPECT_EQ(prints.count_of(line), r.kept ? 0u : 1u);
        // The dump: the area, its sub-areas with their points, the closing line.
        EXPECT_EQ(prints.lines().size(), r.kept ? 7u : 1u + 4u);
    }
}

TEST_F(engine_control_AreaFile, UnreadableFilesLeaveNoArea)
{
    struct Row { const char* text; const char* line; };
    for (const Row& r : {Row{nullptr, "load file area_config.xml failed."}, Row{"<a>", "load file area_config.xml failed."},
                         Row{"<!-- only a comment -->", "FirstChildElement failed."}}) {
        SCOPED_TRACE(r.line);
        std::remove("area_config.xml");
        if (r.text != nullptr) {
            dir.write("area_config.xml", r.text);
        }
        ctl::Prints prints;
        ReadAreaConfig();
        EXPECT_EQ(c->areas.count, 0);
        EXPECT_EQ(c->areas.head, nullptr);
        EXPECT_EQ(prints.count_of(r.line), 1u);
    }
}

}  // namespace
