// The main configuration file: defaults, main attributes, sibling elements, unreadable files.
#include <gtest/gtest.h>

#include <functional>

#include "control_test_support.h"
#include "zub_config.h"
#include "zub_context.h"
#include "zub_public.h"

namespace {

std::string vm_file(const std::string& main_attributes, const std::string& siblings = "")
{
    return "<?xml version=\"1.0\"?>\n<cfg>\n  <zub " + main_attributes + "/>\n" + siblings + "</cfg>\n";
}

class engine_control_ConfigLoader : public ::testing::Test {
protected:
    ctl::TempDir dir;
    ctl::FakePorts ports;
    context_t* c = zub_context();

    int load(const std::string& text)
    {
        dir.write("vm_zub.xml", text);
        return zub_read_configuration_file("vm_zub.xml");
    }
};

TEST_F(engine_control_ConfigLoader, MissingFileLeavesEveryDefault)
{
    ctl::Prints prints;
    c->zubControlPort = 1;
    c->tag_loc.port = 1;
    c->toa_ignore_time = 1;
    EXPECT_EQ(zub_read_configuration_file("vm_zub.xml"), -1);
    EXPECT_EQ(prints.count_of("\nFailed to read configuration file vm_zub.xml - using defaults!\n\n"), 1u);
    // Every value as a number, with its field name for a failure.
    struct Default { const char* field; double value; double want; };
#define DEFAULT(field, want) Default{#field, static_cast<double>(c->field), want}
    const Default defaults[] = {
        DEFAULT(anchorListenPort, 3000), DEFAULT(zubControlPort, 3334), DEFAULT(zubDataPort, 3335),
        DEFAULT(zubRTLSStarted, 0), DEFAULT(zubWirelessSync, 1), DEFAULT(zubNumAncSystem, 0),
        DEFAULT(zubSolveWaitTime, 50000), DEFAULT(zubSolver3D, 0), DEFAULT(zubFPIRF, 0),
        DEFAULT(zeroAlgorithmEnable, 1), DEFAULT(single_blink_expire, 22), DEFAULT(single_blink_count, 4),
        DEFAULT(tag_loc.port, 12345), DEFAULT(tag_loc.max_num, 50), DEFAULT(tag_loc.sleep_time, 50),
        DEFAULT(tag_ext.port, 12346), DEFAULT(anc_stat.port, 12347), DEFAULT(anc_stat.sleep_time, 50),
        DEFAULT(anchor_cfg_finish, 0), DEFAULT(max_position_variance, 0.0), DEFAULT(max_human_speed, 10.0),
        DEFAULT(displayer_type, 0), DEFAULT(log_ctrl.tag_print_flag, 0),
        DEFAULT(dac_interface.blink_port, 12301), DEFAULT(dac_interface.pos_port, 12302),
        DEFAULT(dac_interface.ccp_port, 12303), DEFAULT(data_server_port, 3336), DEFAULT(tad_id_prefix, 0),
        DEFAULT(ground_clearance, 0.0), DEFAULT(algorithm, 0), DEFAULT(filter, 0),
        DEFAULT(toa_ignore_time, 350), DEFAULT(log_ctrl.log_level, 3), DEFAULT(log_ctrl.vector_log_level, 1),
    };
#undef DEFAULT
    for (const Default& d : defaults) {
        EXPECT_EQ(d.value, d.want) << d.field;
    }
    EXPECT_EQ(ports.print_flags, std::vector<BYTE>{3});
}

TEST_F(engine_control_ConfigLoader, MainAttributes)
{
    struct Row {
        const char* attributes;
        std::function<bool(const context_t&)> holds;
    };
    const Row rows[] = {
        {"controlPort=\"4000\"", [](const context_t& x) { return x.zubControlPort == 4000; }},
        {"controlPort=\"abc\"", [](const context_t& x) { return x.zubControlPort == 3334; }},
        {"dataPort=\"4001\"", [](const context_t& x) { return x.zubDataPort == 4001; }},
        {"wirelessSync=\"0\"", [](const context_t& x) { return x.zubWirelessSync == 0; }},
        {"FPIRF=\"2\"", [](const context_t& x) { return x.zubFPIRF == 2; }},
        {"ZERO=\"0\"", [](const context_t& x) { return x.zeroAlgorithmEnable == 0; }},
        {"mode=\"3\"", [](const context_t& x) { return x.mode == 3; }},
        {"tad_id_prefix=\"ABcd12\"", [](const context_t& x) { return x.tad_id_prefix == 0xABCD12u; }},
        {"tad_id_prefix=\"0x10\"", [](const context_t& x) { return x.tad_id_prefix == 0x10u; }},
        {"tad_id_prefix=\"zz\"", [](const context_t& x) { return x.tad_id_prefix == 0u; }},
        {"tad_id_prefix=\"12345678123456789\"", [](const context_t& x) { return x.tad_id_prefix == 0u; }},
        {"tad_id_prefix=\"ffffffffffffffff\"", [](const context_t& x) { return x.tad_id_prefix == ~0ull; }},
        {"ground_clearance=\"1.25\"", [](const context_t& x) { return x.ground_clearance == 1.25; }},
        {"ground_clearance=\"high\"", [](const context_t& x) { return x.ground_clearance == 0.0; }},
        {"algorithm=\"1\" filter=\"1\"", [](const context_t& x) { return x.algorithm == 1 && x.filter == 1; }},
        {"min_mulitiple=\"4\"", [](const context_t& x) { return x.min_mulitiple == 4; }},
        {"anchor_diagnostics=\"5\"", [](const context_t& x) { return x.log_ctrl.diagnostics_log == 1; }},
        {"anchor_diagnostics=\"-1\"", [](const context_t& x) { return x.log_ctrl.diagnostics_log == 0; }},
        {"single_blink_expire=\"30\" single_blink_count=\"6\"",
         [](const context_t& x) { return x.single_blink_expire == 30 && x.single_blink_count == 6; }},
        {"max_human_speed=\"2.5\"", [](const context_t& x) { return x.max_human_speed == 2.5f; }},
        {"max_position_variance=\"0.5\"", [](const context_t& x) { return x.max_position_variance == 0.5f; }},
        {"solveTimeWait=\"100\"", [](const context_t& x) { return x.zubSolveWaitTime == 100; }},
        {"solveTimeWait=\"fast\"", [](const context_t& x) { return x.zubSolveWaitTime == 50000; }},
        {"solver3D=\"1\"", [](const context_t& x) { return x.zubSolver3D == 1; }},
        {"logLevel=\"4\"", [](const context_t& x) { return x.log_ctrl.log_level == 4 && x.log_ctrl.vector_log_level == 2; }},
        {"logLevel=\"2\"", [](const context_t& x) { return x.log_ctrl.log_level == 2 && x.log_ctrl.vector_log_level == 0; }},
        // A file without "logLevel" gives 0, not the default 3.
        {"controlPort=\"3334\"", [](const context_t& x) { return x.log_ctrl.log_level == 0; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.attributes);
        c->mode = 0;
        c->min_mulitiple = 0;
        EXPECT_EQ(load(vm_file(row.attributes)), 0);
        EXPECT_TRUE(row.holds(*c));
    }
}

TEST_F(engine_control_ConfigLoader, SiblingElements)
{
    struct Row {
        const char* siblings;
        std::function<bool(const context_t&)> holds;
    };
    const Row rows[] = {
        {"", [](const context_t& x) {
             return x.tag_loc.port == 12345 && x.tag_loc.max_num == 50 && x.tag_loc.sleep_time == 50 &&
                    x.toa_ignore_time == 350;
         }},
        {"<tagLoc Port=\"7000\"/>", [](const context_t& x) {
             return x.tag_loc.port == 7000 && x.tag_loc.max_num == 0 && x.tag_loc.sleep_time == 0;
         }},
        {"<tagExt Port=\"7001\" maxNum=\"9\" sleepTime=\"8\"/>", [](const context_t& x) {
             return x.tag_ext.port == 7001 && x.tag_ext.max_num == 9 && x.tag_ext.sleep_time == 8;
         }},
        {"<ancStat maxNum=\"3\"/>", [](const context_t& x) {
             return x.anc_stat.port == 0 && x.anc_stat.max_num == 3 && x.anc_stat.sleep_time == 0;
         }},
        // A sleep time keeps its low 16 bits: 70000 - 65536 = 4464.
        {"<tagLoc Port=\"1\" maxNum=\"1\" sleepTime=\"70000\"/>", [](const context_t& x) {
             return x.tag_loc.sleep_time == 4464;
         }},
        {"<dacInterface blinkPort=\"9000\"/>", [](const context_t& x) {
             return x.dac_interface.blink_port == 9000 && x.dac_interface.pos_port == 12302 &&
                    x.dac_interface.ccp_port == 12303;
         }},
        {"<clockSync/>", [](const context_t& x) { return x.toa_ignore_time == 0; }},
        {"<clockSync toaIgnoreTime=\"500\"/>", [](const context_t& x) { return x.toa_ignore_time == 500; }},
        {"<logCtrl tagPrintFlag=\"257\"/>", [](const context_t& x) { return x.log_ctrl.tag_print_flag == 1; }},
        {"<logCtrl/>", [](const context_t& x) { return x.log_ctrl.tag_print_flag == 0; }},
        {"<displayer type=\"norvat\"/>", [](const context_t& x) { return x.displayer_type == 1; }},
        {"<displayer type=\"other\"/>", [](const context_t& x) { return x.displayer_type == 0; }},
        {"<displayer/>", [](const context_t& x) { return x.displayer_type == 0; }},
        {"<other Port=\"1\"/><clockSync toaIgnoreTime=\"10\"/>", [](const context_t& x) { return x.toa_ignore_time == 10; }},
        // A repeated element is applied again: the later one wins.
        {"<displayer type=\"norvat\"/><displayer type=\"x\"/>", [](const context_t& x) { return x.displayer_type == 0; }},
        {"<tagLoc Port=\"1\" maxNum=\"2\" sleepTime=\"3\"/><tagLoc Port=\"4\"/>", [](const context_t& x) {
             return x.tag_loc.port == 4 && x.tag_loc.max_num == 0;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.siblings);
        EXPECT_EQ(load(vm_file("logLevel=\"3\"", row.siblings)), 0);
        EXPECT_TRUE(row.holds(*c));
    }
}

TEST_F(engine_control_ConfigLoader, ValuesOutOfRangeAreLoggedAndReplacedByTheDefault)
{
    const auto outside = [](const std::string& what, const char* range, int used) {
        return "vm_zub.xml: " + what + " is outside " + range + ", " + std::to_string(used) +
               " (the default) is used instead.";
    };
    const auto not_finite = [](const std::string& what, const char* used) {
        return "vm_zub.xml: " + what + " is not a finite number, " + used + " (the default) is used instead.";
    };
    struct Row {
        std::string attributes;
        std::string siblings;
        std::function<bool(const context_t&)> holds;
        std::string line;  // the line about the value, or none
    };
    const Row rows[] = {
        {"controlPort=\"70000\"", "", [](const context_t& x) { return x.zubControlPort == 3334; },
         outside("zub controlPort=\"70000\"", "1..65535", 3334)},
        {"controlPort=\"-1\"", "", [](const context_t& x) { return x.zubControlPort == 3334; },
         outside("zub controlPort=\"-1\"", "1..65535", 3334)},
        {"controlPort=\"0\"", "", [](const context_t& x) { return x.zubControlPort == 3334; },
         outside("zub controlPort=\"0\"", "1..65535", 3334)},
        // As a 32-bit int this would wrap to port 1.
        {"controlPort=\"4294967297\"", "", [](const context_t& x) { return x.zubControlPort == 3334; },
         outside("zub controlPort=\"4294967297\"", "1..65535", 3334)},
        {"controlPort=\"1\" dataPort=\"65535\"", "",
         [](const context_t& x) { return x.zubControlPort == 1 && x.zubDataPort == 65535; }, ""},
        {"dataPort=\"65536\"", "", [](const context_t& x) { return x.zubDataPort == 3335; },
         outside("zub dataPort=\"65536\"", "1..65535", 3335)},
        {"logLevel=\"-1\"", "", [](const context_t& x) { return x.log_ctrl.log_level == 3; },
         outside("zub logLevel=\"-1\"", "0..4", 3)},
        {"logLevel=\"5\"", "", [](const context_t& x) { return x.log_ctrl.log_level == 3; },
         outside("zub logLevel=\"5\"", "0..4", 3)},
        {"min_mulitiple=\"100000\"", "", [](const context_t& x) { return x.min_mulitiple == 0; },
         outside("zub min_mulitiple=\"100000\"", "0..22", 0)},
        {"min_mulitiple=\"22\" single_blink_count=\"32\"", "",
         [](const context_t& x) { return x.min_mulitiple == 22 && x.single_blink_count == 32; }, ""},
        {"single_blink_count=\"33\"", "", [](const context_t& x) { return x.single_blink_count == 4; },
         outside("zub single_blink_count=\"33\"", "0..32", 4)},
        {"max_human_speed=\"nan\"", "", [](const context_t& x) { return x.max_human_speed == 10.0f; },
         not_finite("zub max_human_speed=\"nan\"", "10")},
        // Finite as a double, not as the float it is stored in.
        {"max_human_speed=\"1e39\"", "", [](const context_t& x) { return x.max_human_speed == 10.0f; },
         not_finite("zub max_human_speed=\"1e39\"", "10")},
        {"ground_clearance=\"inf\"", "", [](const context_t& x) { return x.ground_clearance == 0.0; },
         not_finite("zub ground_clearance=\"inf\"", "0")},
        {"", "<tagLoc Port=\"-5\" maxNum=\"1\" sleepTime=\"2\"/>",
         [](const context_t& x) { return x.tag_loc.port == 12345 && x.tag_loc.max_num == 1 && x.tag_loc.sleep_time == 2; },
         outside("tagLoc Port=\"-5\"", "1..65535", 12345)},
        {"", "<tagExt Port=\"7\" maxNum=\"70000\"/>",
         [](const context_t& x) { return x.tag_ext.port == 7 && x.tag_ext.max_num == 50; },
         outside("tagExt maxNum=\"70000\"", "0..65535", 50)},
        {"", "<ancStat Port=\"65536\" maxNum=\"65535\"/>",
         [](const context_t& x) { return x.anc_stat.port == 12347 && x.anc_stat.max_num == 65535; },
         outside("ancStat Port=\"65536\"", "1..65535", 12347)},
        {"", "<dacInterface blinkPort=\"9\" posPort=\"65536\"/>",
         [](const context_t& x) {
             return x.dac_interface.blink_port == 9 && x.dac_interface.pos_port == 12302 &&
                    x.dac_interface.ccp_port == 12303;
         },
         outside("dacInterface posPort=\"65536\"", "1..65535", 12302)},
    };
    ctl::Prints prints;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.attributes + row.siblings);
        prints.clear();
        c->min_mulitiple = 7;
        EXPECT_EQ(load(vm_file(row.attributes, row.siblings)), 0);
        EXPECT_TRUE(row.holds(*c));
        EXPECT_EQ(prints.lines(), row.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.line});
    }
}

TEST_F(engine_control_ConfigLoader, DocumentsWithoutMainElementKeepTheDefaults)
{
    const char* files[] = {
        "<?xml version=\"1.0\"?>",                         // a declaration only: no element
        "<!-- nothing but a comment -->",                  // a comment only
        "<cfg/>",                                          // a root without children
        "<cfg><!-- c --></cfg>",
    };
    for (const char* text : files) {
        SCOPED_TRACE(text);
        ports.print_flags.clear();
        c->zubControlPort = 1;
        EXPECT_EQ(load(text), 0);
        EXPECT_EQ(c->zubControlPort, 3334);
        EXPECT_EQ(c->log_ctrl.log_level, 3);
        EXPECT_EQ(ports.print_flags, std::vector<BYTE>{3});
    }
}

TEST_F(engine_control_ConfigLoader, SiblingsAreReadOnlyAfterTheRootsFirstChild)
{
    // The first child carries the main attributes whatever its name; a "clockSync" in first
    // place is not read as a sibling.
    EXPECT_EQ(load("<cfg><clockSync toaIgnoreTime=\"9\" controlPort=\"5000\"/><tagLoc Port=\"6\"/></cfg>"), 0);
    EXPECT_EQ(c->toa_ignore_time, 350);
    EXPECT_EQ(c->zubControlPort, 5000);
    EXPECT_EQ(c->tag_loc.port, 6);
}

TEST_F(engine_control_ConfigLoader, LogLevelSetDerivesTheVectorLevelAndThePrintFlag)
{
    struct Row { int level; BYTE stored; BYTE vector; };
    for (const Row& r : {Row{0, 0, 0}, Row{3, 3, 1}, Row{4, 4, 2}, Row{5, 5, 0}, Row{260, 4, 0}}) {
        SCOPED_TRACE(r.level);
        ports.print_flags.clear();
        log_level_set(r.level);
        EXPECT_EQ(c->log_ctrl.log_level, r.stored);
        EXPECT_EQ(c->log_ctrl.vector_log_level, r.vector);
        EXPECT_EQ(ports.print_flags, std::vector<BYTE>{r.stored});
    }
}

}  // namespace
