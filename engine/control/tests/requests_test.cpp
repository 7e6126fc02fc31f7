// The controller's requests and their exact replies.
#include "handler_fixture.h"
#include "zub_shared_field.h"

namespace {

using ctl::Bytes;

class engine_control_Requests : public ctl::HandlerTest {};

TEST_F(engine_control_Requests, RepliesOfTheSimpleRequests)
{
    c->enable_motion_filter = 2;
    c->zubWirelessSync = 1;
    struct Row { const char* request; const char* reply; };
    const Row rows[] = {
        {"<r type=\"anchor list\"/>",
         "<ind type=\"anchor list\"><anchor addr=\"a1\" connection=\"Eth\"/><anchor addr=\"b2\" connection=\"Eth\"/>"
         "<anchor addr=\"c3\" connection=\"Eth\"/></ind>\n"},
        {"<r type=\"zub cfg\"/>",
         "<ind type=\"zub cfg\"><zub ver=\"4.0.200617\" loglevel=\"3\" motionfilter=\"2\" state=\"0\" sync=\"1\"/></ind>\n"},
        {"<r type=\"anchor init all\"/>", "<ind type=\"anchor init\"/>\n"},
        {"<r type=\"rf cfg\"><rf chan=\"5\"/></r>", "<ind type=\"rf cfg\"></ind>\n"},
        {"<r type=\"rtls start\"/>", "<ind type=\"rtls start\" /> \n"},
        {"<r type=\"zub cfg\"/>",
         "<ind type=\"zub cfg\"><zub ver=\"4.0.200617\" loglevel=\"3\" motionfilter=\"2\" state=\"1\" sync=\"1\"/></ind>\n"},
        {"<r type=\"rtls stop\"/>", "<ind type=\"rtls stop\" /> \n"},
        {"<r type=\"rtls anc_reset\"/>", "<ind type=\"rtls reset_complete\" /> \n"},
        {"<r type=\"tag training\"/>", "<ind type=\"tag training\"></ind>\n"},
        {"<r type=\"anchor cfg\"/>", "<ind type=\"anchor cfg\"></ind>\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        ports.replies.clear();
        request(r.request);
        EXPECT_EQ(ports.replies, std::vector<std::string>{r.reply});
    }
}

TEST_F(engine_control_Requests, AnchorListWithoutAnchors)
{
    c->anchor_count = 0;
    request("<r type=\"anchor list\"/>");
    EXPECT_EQ(ports.replies, std::vector<std::string>{"<ind type=\"anchor list\"></ind>\n"});
}

TEST_F(engine_control_Requests, RequestsWithoutReply)
{
    struct Row { const char* request; const char* line; };
    const Row rows[] = {
        {"<r type=\"anchor list\"", "XML(<r type=\"anchor list\") Error, 21. "},
        {"<r kind=\"anchor list\"/>", " XML Error, can not find type element.(<r kind=\"anchor list\"/>)."},
        {"<!-- nothing -->", " XML Error, can not find type element.(<!-- nothing -->)."},
        {"<r type=\"anchor lists\"/>", "unkown type:anchor lists."},
        {"<r type=\"log text\" text=\"hello\"/>", nullptr},
        {"<r type=\"motion filter\" filter_type=\"1\"/>", nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        prints.clear();
        request(r.request);
        EXPECT_TRUE(ports.replies.empty());
        EXPECT_TRUE(ports.frames.empty());
        if (r.line != nullptr) {
            EXPECT_EQ(prints.count_of(r.line), 1u);
        }
    }
}

TEST_F(engine_control_Requests, AnchorCfgRepliesAndConfigures)
{
    request("<r type=\"anchor cfg\">"
            "<anchor addr=\"a1\" id=\"1\" master=\"1\" x=\"1.5\" y=\"2\" z=\"3\"/>"
            "<anchor addr=\"ffee\" id=\"9\"/>"
            "<anchor id=\"4\"/>"
            "<other addr=\"b2\"/>"
            "<anchor addr=\"c3\" id=\"3\" master_addr=\"a1\"><m addr=\"a1\" rfdistance=\"12.5\"/><m addr=\"dead\"/><m/></anchor>"
            "<anchor addr=\"b2\" id=\"2\" master_addr=\"a1\"><m addr=\"a1\"/></anchor>"
            "</r>");
    ASSERT_EQ(ports.replies.size(), 1u);
    EXPECT_EQ(ports.replies[0],
              "<ind type=\"anchor cfg\">"
              "<anchor addr=\"a1\" db=\"exists\" status=\"Socket opened already\"/>"
              "<anchor addr=\"ffee\" db=\"unknown\" status=\"Anchor NOT Discovered\"/>"
              "<anchor addr=\"c3\" db=\"exists\" status=\"Socket error\"/>"
              "<anchor addr=\"b2\" db=\"exists\" status=\"Socket opened already\"/>"
              "</ind>\n");
    EXPECT_EQ(c->zubNumAncSystem, 2);
    EXPECT_TRUE(c->anchor_cfg_finish);
    EXPECT_EQ(ports.distance_matrix_calls, 1);
    const AnchorConfig ca = a->config_snapshot();
    EXPECT_EQ(ca.idx, 1);
    EXPECT_EQ(ca.master, 1);
    EXPECT_EQ((std::vector<double>{ca.position[0], ca.position[1], ca.position[2]}), (std::vector<double>{1.5, 2, 3}));
    EXPECT_EQ(ca.id_to_follow, ctl::kA);
    EXPECT_EQ(ca.ant_delay_rx, 16454);
    EXPECT_EQ(ca.ant_delay_tx, 16454);
    EXPECT_EQ(ca.tof_delayed, 1000);
    EXPECT_EQ(ca.use_ant_delay, 1);
    EXPECT_EQ(cc->config_snapshot().id_to_follow, ctl::kA);
    anchor_idx_t m{};
    EXPECT_TRUE(cc->find_master(ctl::kA, &m));
    EXPECT_EQ(m.id, a->id);
    EXPECT_EQ(cc->rf_distance_to(ctl::kA), 12.5);
    EXPECT_EQ(cc->masters.size(), 1u);  // the unknown and the address-less masters are skipped
    EXPECT_EQ(prints.count_of("anchor cfg: master \"dead\" of anchor c3 is not a known anchor, skipped."), 1u);
    // 'D' to the linked anchors after the reply.
    EXPECT_EQ(ports.frames_to(a->id).size(), 1u);
    EXPECT_EQ(ports.frames_to(b->id).size(), 1u);

    // Given again, the masters accumulate and the first distance stays.
    request("<r type=\"anchor cfg\"><anchor addr=\"c3\"><m addr=\"a1\" rfdistance=\"99\"/></anchor></r>");
    EXPECT_EQ(cc->masters.size(), 2u);
    EXPECT_EQ(cc->rf_distance_to(ctl::kA), 12.5);
}

TEST_F(engine_control_Requests, AnchorCfgModeFollowsTheDisplayerType)
{
    a->mode = 2;
    struct Row { WORD16 displayer; const char* mode; BYTE expected; };
    for (const Row& r : {Row{0, "1", 2}, Row{1, "1", 1}, Row{1, "2", 2}, Row{1, "7", 0}, Row{1, nullptr, 0}}) {
        SCOPED_TRACE(testing::Message() << r.displayer << "/" << (r.mode ? r.mode : "none"));
        c->displayer_type = r.displayer;
        a->mode = 2;
        std::string attr = r.mode ? std::string(" mode=\"") + r.mode + "\"" : "";
        request("<r type=\"anchor cfg\"><anchor addr=\"a1\"" + attr + "/></r>");
        EXPECT_EQ(a->config_snapshot().mode, r.expected);
    }
}

TEST_F(engine_control_Requests, RfCfg)
{
    struct Row { const char* attrs; int chan, prf, rate, code, plen, pac, nsfd; WORD16 delay; };
    const Row rows[] = {
        {"prf=\"16\"", 2, 1, 2, 9, 0x14, 0, 0, 16473},
        {"prf=\"64\" plen=\"100\"", 2, 2, 2, 9, 0x14, 0, 0, 16454},
        {"chan=\"5\" rate=\"110\" code=\"3\" plen=\"1024\" pac=\"32\" nsfd=\"1\" ant_delay=\"16000\"", 5, 2, 0, 3, 0x08, 2, 1, 16000},
        {"rate=\"850\" plen=\"4096\" pac=\"64\"", 2, 2, 1, 9, 0x0C, 3, 0, 16454},
        {"rate=\"1\" pac=\"4\" prf=\"32\"", 2, 2, 2, 9, 0x14, 0, 0, 16454},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.attrs);
        rfConfig = RfConfig();
        ports.frames.clear();
        request(std::string("<r type=\"rf cfg\"><rf ") + r.attrs + "/></r>");
        EXPECT_EQ((std::vector<int>{rfConfig.chan, rfConfig.prf, rfConfig.rate, rfConfig.code, rfConfig.plen,
                                    rfConfig.pac, rfConfig.nsfd, rfConfig.ant_delay}),
                  (std::vector<int>{r.chan, r.prf, r.rate, r.code, r.plen, r.pac, r.nsfd, r.delay}));
        EXPECT_EQ(ports.frames.size(), 2u);  // 'D' to the two linked anchors
    }
}

TEST_F(engine_control_Requests, RtlsStartAndStopFrames)
{
    request("<r type=\"rtls start\"/>");
    EXPECT_EQ(ports.frames_to(a->id), (std::vector<Bytes>{{0x57, 0x01}}));
    EXPECT_EQ(c->zubRTLSStarted, 1);
    ports.frames.clear();
    request("<r type=\"rtls stop\"/>");
    EXPECT_EQ(ports.frames_to(a->id), (std::vector<Bytes>{{0x57, 0x00}}));
    EXPECT_EQ(ports.frames_to(b->id), (std::vector<Bytes>{{0x57, 0x00}}));
    EXPECT_EQ(c->zubRTLSStarted, 0);
}

TEST_F(engine_control_Requests, AnchorResetByDisplayerType)
{
    const Bytes reset = {0x59, 'r', 'e', 's', 'e', 't', '_', 'a', 'n', 'c', 'h', 'o', 'r', '_', 'n', 'o', 'w', 0};
    const char* req = "<r type=\"rtls anc_reset\"><anchor addr=\"b2\"/><anchor addr=\"77\"/></r>";
    c->displayer_type = 1;
    request(req);
    EXPECT_TRUE(ports.frames_to(a->id).empty());
    EXPECT_EQ(ports.frames_to(b->id), std::vector<Bytes>{reset});
    EXPECT_EQ(prints.count_of("send rtls reset cmd to anchor(" + std::to_string(b->id) + ":b2)"), 1u);
    EXPECT_EQ(ports.sleeps, std::vector<unsigned>{10});
    ports.frames.clear();
    c->displayer_type = 0;
    request(req);
    EXPECT_EQ(ports.frames_to(a->id), std::vector<Bytes>{reset});
    EXPECT_EQ(ports.frames_to(b->id), std::vector<Bytes>{reset});
}

TEST_F(engine_control_Requests, LogRequestsAndAccumulator)
{
    request("<r type=\"log start\" loglevel=\"4\"/>");
    EXPECT_EQ(c->log_ctrl.log_level, 4);
    EXPECT_EQ(c->log_ctrl.vector_log_level, 2);
    EXPECT_EQ(ports.frames.size(), 2u);
    request("<r type=\"log start\" loglevel=\"99999999999\"/>");  // malformed: counts as missing
    EXPECT_EQ(c->log_ctrl.log_level, 0);
    request("<r type=\"log stop\"/>");
    EXPECT_EQ(c->log_ctrl.log_level, 0);
    EXPECT_EQ(ports.frames.size(), 6u);
    EXPECT_TRUE(ports.replies.empty());

    ports.frames.clear();
    request("<r type=\"log accumulator\" num_accum=\"513\" ccp_blink=\"1\"><x addr=\"b2\"/><x/><x addr=\"99\"/>"
            "<x addr=\"a1\"/><x addr=\"0\"/><x addr=\"b2\"/></r>");
    EXPECT_EQ(ports.frames_to(b->id), (std::vector<Bytes>{{0x88, 0xA2, 0x01, 0x02}}));
    EXPECT_EQ(ports.frames_to(a->id), (std::vector<Bytes>{{0x88, 0xA2, 0x01, 0x02}}));
    ports.frames.clear();
    request("<r type=\"log accumulator\"><x addr=\"a1\"/></r>");
    EXPECT_EQ(ports.frames_to(a->id), (std::vector<Bytes>{{0x88, 0xA1, 0x00, 0x00}}));
}

TEST_F(engine_control_Requests, MotionFilterAndShutdown)
{
    c->filter_length = 7;
    request("<r type=\"motion filter\" filter_type=\"3\"/>");
    EXPECT_EQ(c->enable_motion_filter, 3);
    EXPECT_EQ(c->filter_length, 7);
    request("<r type=\"motion filter\" filter_length=\"12\" filter_type=\"x\"/>");
    EXPECT_EQ(c->enable_motion_filter, 3);
    EXPECT_EQ(c->filter_length, 12);
    request("<r type=\"shutdown\"/>");
    EXPECT_EQ(ports.exits, std::vector<int>{0});
}

TEST_F(engine_control_Requests, TagTraining)
{
    request("<r type=\"anchor cfg\"><anchor addr=\"a1\" x=\"0\" y=\"0\" z=\"0\"/><anchor addr=\"b2\" x=\"3\" y=\"4\" z=\"0\"/></r>");
    ports.replies.clear();
    // b2 trains on tag 0x77 at (3, 0, 0) against a1: |a1 - p| = 3, |b2 - p| = 4.
    request("<r type=\"tag training\"><anchor addr=\"b2\">"
            "<t blinks=\"50\" addr=\"a1\" tag=\"77\" x=\"3\" y=\"0\" z=\"0\"/>"
            "<t blinks=\"60\" addr=\"eeee\" tag=\"78\"/>"
            "</anchor><anchor addr=\"c3\"/></r>");
    EXPECT_EQ(ports.replies, std::vector<std::string>{"<ind type=\"tag training\"></ind>\n"});
    const AnchorConfig cb = b->config_snapshot();
    EXPECT_DOUBLE_EQ(cb.tofDiff, (3.0 - 4.0) / 299702547.0);
    EXPECT_EQ(cb.training, 1);
    EXPECT_EQ(b->totalTrainingBlinks, 50);
    EXPECT_EQ(b->cs_count(), 1);
    EXPECT_EQ(b->trainingTags.at(0x77), ctl::kA);
    EXPECT_EQ(b->trainingTags.count(0x78), 0u);
    EXPECT_EQ(a->config_snapshot().reference, 1);
    EXPECT_EQ(a->trainingState.count(0x77), 1u);
    EXPECT_EQ(cc->totalTrainingBlinks, 200);
    EXPECT_EQ(prints.count_of("tag training: reference anchor \"eeee\" unknown, entry skipped."), 1u);

    // An anchor already training is left alone; the counts are reset for all.
    request("<r type=\"tag training\"><anchor addr=\"b2\"><t blinks=\"9\" addr=\"a1\" tag=\"79\"/></anchor></r>");
    EXPECT_EQ(b->totalTrainingBlinks, 200);
    EXPECT_EQ(b->cs_count(), 0);
    EXPECT_TRUE(b->trainingTags.empty());
}

}  // namespace
