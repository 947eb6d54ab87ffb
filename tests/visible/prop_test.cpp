// Props: wire values, request results, and both object protocols end to end over loopback
// against the fake universe and world servers, down to the elements in the scene.
#include "client/net/tcp.h"
#include "client/servers/attributes.h"
#include "tests/visible/visible_env.h"

using namespace vtest;

namespace {

element* object(int32_t number, double x, double y, double z, float yaw) {
  return element_create(x, y, z, yaw, 7, "box.rwx", 0, "", 0, "", number, 7, 1);
}

class PropTest : public SceneFixture {};

TEST_F(PropTest, WireValuesRoundHalvesAwayFromZeroAndWrapTheYaw) {
  EXPECT_EQ(-1, prop_thousandths(-0.0005));
  EXPECT_EQ(1, prop_thousandths(0.0005));
  EXPECT_EQ(-2500, prop_thousandths(-2.5));
  EXPECT_EQ(0, prop_tenths(359.96));
  EXPECT_EQ(3599, prop_tenths(359.94));
  EXPECT_EQ(3550, prop_tenths(-5.0));
  EXPECT_EQ(900, prop_tenths(450.0));
}

TEST_F(PropTest, ResultsShowTheirMessageAndReloadTheCellsFromTheCache) {
  store(0, 0, {5});
  store(3, 0, {6});
  store(1, 0, {8});
  for (int i = 0; i < 60; ++i) pass();
  ASSERT_TRUE(visible_cell_loaded(3, 0));
  // Outside a world every request waits.
  element* moved = object(20, 3.5, 0, 0.5, 0);
  EXPECT_EQ(NET_NO_WORLD, prop_change(0, 0, moved, 5));
  EXPECT_EQ(NET_NO_WORLD, prop_add(object(21, 1.5, 0, 0.5, 0)));
  EXPECT_EQ(NET_NO_WORLD, prop_delete(1, 0, 8));
  EXPECT_EQ(3, prop_pending_count());
  prop_request_result(999, 3);  // not pending: nothing
  EXPECT_TRUE(console.empty());
  EXPECT_EQ(3, prop_pending_count());
  // A refused change reloads its old and its new cell.
  prop_request_result(20, 3);
  EXPECT_EQ(std::vector<std::string>{"2 m125: m39"}, console);
  EXPECT_FALSE(visible_cell_loaded(0, 0));
  EXPECT_FALSE(visible_cell_loaded(3, 0));
  EXPECT_EQ(2, prop_pending_count());
  prop_request_result(21, 250);
  EXPECT_EQ("2 m125: m42 450", console.at(1));
  EXPECT_FALSE(visible_cell_loaded(1, 0));
  // Code 4: the object is gone, from the cache and the scene, without a message.
  for (int i = 0; i < 5; ++i) pass();
  ASSERT_EQ(std::vector<int32_t>{8}, numbers_in(1, 0));
  prop_request_result(8, 4);
  EXPECT_EQ(2u, console.size());
  EXPECT_TRUE(cached(1, 0).empty());
  EXPECT_EQ(std::vector<std::string>{"1,0 8"}, gone);
  for (int i = 0; i < 5; ++i) pass();
  EXPECT_TRUE(numbers_in(1, 0).empty());
  EXPECT_EQ(0, prop_pending_count());
  element_destroy(moved);
}

TEST_F(PropTest, ABuildRefusalQuotesTheWorldsText) {
  const char text[] = "not here";
  attribute_set(ATTR_BUILD_REFUSAL, text, 8);
  prop_delete(0, 0, 4);
  prop_request_result(4, 114);
  EXPECT_EQ(std::vector<std::string>{"2 m125: m126 not here"}, console);
}

// ---- over loopback -----------------------------------------------------------------------

class PropLink : public Loopback<SceneFixture> {
 protected:
  void enter(int state) {
    ASSERT_EQ(0, world_enter("demo"));
    ASSERT_NO_FATAL_FAILURE(run_until([state] { return world_state() == state; }));
  }
};

TEST_F(PropLink, LiveAddsAndDeletesReachTheScene) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  ASSERT_NO_FATAL_FAILURE(run_until([] { return prop_query_complete() && visible_cell_loaded(0, 0); }));
  world->command(R"(live_add 1 {"session":9,"sequence":5,"cx":0,"cz":0,"number":31,"owner":8,"time":77,)"
                 R"("x":250,"y":1500,"z":750,"yaw":900,"model":"box.rwx"})");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return numbers_in(0, 0).size() == 1; }));
  visible_start(0, 0);
  element* e = nullptr;
  ASSERT_NE(nullptr, visible_next(&e));
  EXPECT_EQ(31, element_number(e));
  EXPECT_DOUBLE_EQ(0.25, element_x(e));
  EXPECT_DOUBLE_EQ(1.5, element_y(e));
  EXPECT_DOUBLE_EQ(0.75, element_z(e));
  EXPECT_FLOAT_EQ(90.0f, element_yaw(e));
  EXPECT_EQ(8, element_owner(e));
  EXPECT_EQ(std::vector<int32_t>{31}, cached(0, 0));
  EXPECT_EQ(5, cell_sector_sequence(0, 0));
  // One to a cell that is not loaded stays in the cache only.
  world->command(R"(live_add 1 {"session":9,"sequence":6,"cx":40,"cz":40,"number":32,"model":"box.rwx"})");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return cached(40, 40).size() == 1; }));
  EXPECT_FALSE(visible_cell_loaded(40, 40));
  EXPECT_EQ(1, element_count());
  // The user's own addition coming back only confirms owner and build time.
  element* mine = element_create(0.5, 0, 0.5, 0, 7, "box.rwx", 0, "", 0, "", 33, 0, 0);
  visible_consider(mine);
  world->command(R"(live_add 1 {"session":4660,"sequence":7,"cx":0,"cz":0,"number":33,"owner":101,"time":555,)"
                 R"("x":500,"z":500,"model":"box.rwx"})");
  ASSERT_NO_FATAL_FAILURE(run_until([mine] { return element_build_time(mine) == 555; }));
  EXPECT_EQ(101, element_owner(mine));
  EXPECT_EQ((std::vector<int32_t>{33, 31}), numbers_in(0, 0));
  world->command(R"(live_delete 1 {"session":9,"sequence":8,"cx":0,"cz":0,"number":31})");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return numbers_in(0, 0) == std::vector<int32_t>{33}; }));
  EXPECT_EQ(std::vector<int32_t>{33}, cached(0, 0));
  EXPECT_EQ(std::vector<std::string>{"0,0 31"}, gone);
}

TEST_F(PropLink, ACellReplyUpdatesTheCacheAndReloadsTheCell) {
  start(R"({"mode":"new","sequences":{"0,0":7},"cells":[{"x":0,"z":0,"objects":[)"
        R"({"number":1,"x":100,"z":100,"model":"a.rwx"},{"number":2,"x":200,"z":200,"model":"b.rwx"}]}]})");
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  EXPECT_EQ("query 1 0 0 0,0,0,0,0,0,0,0,0", world->wait_for("query", step));
  ASSERT_NO_FATAL_FAILURE(run_until([] { return numbers_in(0, 0).size() == 2; }));
  EXPECT_EQ((std::vector<int32_t>{2, 1}), numbers_in(0, 0));
  EXPECT_EQ(7, cell_sector_sequence(0, 0));
  // A newer copy of the cell replaces the scene's.
  world->command("reply 1 6 0000000000000009000000030000000800000000006400000064000005612e7277780000");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return numbers_in(0, 0) == std::vector<int32_t>{3}; }));
  EXPECT_EQ(std::vector<int32_t>{3}, cached(0, 0));
  EXPECT_EQ(9, cell_sector_sequence(0, 0));
  // No new query while the user stays in the sector.
  for (const std::string& l : world->collect(300, step)) EXPECT_NE(0u, l.rfind("query", 0)) << l;
  self_set_position(8.5, 0, 0.5, 0);
  EXPECT_EQ("query 1 1 0 0,0,0,9,0,0,0,0,0", world->wait_for("query", step));
}

// A world that pours ten thousand live adds into one cell (370 KB on the wire): frames go
// on all through it, the cell stops at its cap in the cache and in the scene, its file stays
// small, and a real cell beside it, as full as one world message can carry, arrives whole.
TEST_F(PropLink, AFloodOfLiveAddsStopsAtTheCellsCapWhileFramesGoOn) {
  std::string objects;
  for (int i = 1; i <= 250; ++i)
    objects += (i > 1 ? "," : "") + std::string(R"({"number":)") + std::to_string(i) + R"(,"x":)" +
               std::to_string(i * 3) + R"(,"z":500,"model":"box.rwx"})";
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new","cells":[{"x":1,"z":0,"objects":[)" + objects + "]}]}"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  ASSERT_NO_FATAL_FAILURE(run_until([] {
    return prop_query_complete() && visible_cell_loaded(0, 0) && numbers_in(1, 0).size() == 250;
  }));
  const std::string file = std::string(world_property_path()) + "/cell.dat";
  auto file_size = [&file] {
    std::error_code ec;
    auto n = std::filesystem::file_size(file, ec);
    return ec ? 0 : static_cast<int64_t>(n);
  };
  const int64_t before = file_size();
  // Each reading of the clock is a millisecond later, so the frame's own work spends its time.
  platform_set_clock([] { return fake_now += 1; });
  world->command("chat 1 7 flood");
  world->command(R"(live_adds 1 {"count":10000,"session":9,"sequence":5,"cx":0,"cz":0,"number":1000,)"
                 R"("x":100,"z":100,"model":"b"})");
  world->command("chat 1 7 over");
  // Frames from the one that took the first line in to the one that took the last.
  const int64_t bound = before + 16 * CELL_DATA_LIMIT;
  int frames = 0;
  int64_t largest = 0;
  ASSERT_NO_FATAL_FAILURE(run_until([&] {
    if (!recorder.chat.empty()) ++frames;
    largest = std::max(largest, file_size());
    return recorder.chat.size() == 2 || largest > bound;
  }));
  platform_set_clock(testutil::fake_clock);
  EXPECT_LE(largest, bound) << "the cell file grew past its bound during the flood";
  EXPECT_GE(frames, 100) << "the flood held the frames back";
  // The cap holds 2730 entries of 24 bytes: the first ones, in the cache and in the scene.
  std::vector<int32_t> kept = cached(0, 0);
  ASSERT_EQ(static_cast<size_t>(CELL_DATA_LIMIT / 24), kept.size());
  EXPECT_EQ(1000, kept.front());
  EXPECT_EQ(1000 + CELL_DATA_LIMIT / 24 - 1, kept.back());
  for (int i = 0; i < 5; ++i) step();
  EXPECT_EQ(kept.size(), numbers_in(0, 0).size());
  EXPECT_EQ(250u, numbers_in(1, 0).size());
  EXPECT_EQ(250u, cached(1, 0).size());
  EXPECT_EQ(WORLD_IN, world_state());
}

std::string hex_text(const std::string& s) { return testutil::hex_of(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST_F(PropLink, BadCellsFromTheServerNeverCrash) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_IN));
  ASSERT_NO_FATAL_FAILURE(run_until([] { return prop_query_complete() && visible_cell_loaded(0, 0); }));
  // Nine objects with 255-byte texts: more than a 4096-byte cell.
  std::string name(255, 'n');
  std::string body = "0000000000000004";
  for (int i = 1; i <= 9; ++i) {
    char head[64];
    std::snprintf(head, sizeof head, "%08x", i);
    body += head + std::string(32, '0');
    body += "ff" + hex_text(name) + "ff" + hex_text(name) + "ff" + hex_text(name);
  }
  world->command("reply 1 6 " + body);
  ASSERT_NO_FATAL_FAILURE(run_until([] { return numbers_in(0, 0).size() == 9; }));
  visible_start(0, 0);
  element* e = nullptr;
  visible_next(&e);
  EXPECT_EQ(255, element_model_length(e));
  EXPECT_EQ(255, element_action_length(e));
  // Cut inside the head; a text claiming 200 bytes of which 2 are there; a bare code.
  world->command("reply 1 6 0000");
  world->command("reply 1 6 000000000000000a000000010000000200000003000100020003" "0004c86162");
  world->command("reply 1 6");
  world->command("reply 1 7 0009");
  world->command("reply 1 8 0009000000010000");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return numbers_in(0, 0).empty(); }));
  EXPECT_TRUE(cached(0, 0).empty());
  EXPECT_EQ(10, cell_sector_sequence(0, 0));
  EXPECT_EQ(WORLD_IN, world_state());
}

TEST_F(PropLink, ARequestMadeBeforeTheLoginIsSentAfterIt) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"new"})"));
  ASSERT_EQ(0, world_enter("demo"));
  element* e = object(77, 1.5, 0.25, 2.5, 359.96f);
  EXPECT_EQ(NET_NO_WORLD, prop_add(e));
  element_destroy(e);
  // The connection is reset (and the props with it) on the way in; the request stays.
  EXPECT_EQ("frame 1 00" "0000004d" "000005dc" "000000fa" "000009c4" "0000" "07626f782e727778" "00" "00",
            world->wait_for("frame 1 00", step));
  EXPECT_EQ(1, prop_pending_count());
  world->command("reply 1 0 0000004d00");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return prop_pending_count() == 0; }));
  EXPECT_TRUE(console.empty());
}

// Object replies keep an old-protocol world up; silent, it is connected again, as the status says.
TEST_F(PropLink, AnOldProtocolWorldIsUpWhileItAnswersAndConnectedAgainWhenSilent) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"old","attributes":[[0,"Old"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_OLD_PROTOCOL));
  EXPECT_EQ(0u, world->wait_for("raw", step).rfind("raw 1 03", 0));
  fake_now += WORLD_SILENCE_LIMIT - 1000;
  world->command("send 1 0003" "01");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return std::string(world_status_current()) == "m47 1 3"; }));
  fake_now += WORLD_SILENCE_LIMIT - 1000;
  step();
  EXPECT_EQ(WORLD_OLD_PROTOCOL, world_state());
  fake_now += 2000;
  world_update();
  world_update();
  EXPECT_EQ(WORLD_LOGIN_SENT, world_state()) << "connected again";
  EXPECT_STREQ("m119", world_status_current());
}

TEST_F(PropLink, TheOldProtocolQueriesAppliesRecordsAndRefreshesRefusedCells) {
  ASSERT_NO_FATAL_FAILURE(start(R"({"mode":"old","attributes":[[0,"Old"]]})"));
  ASSERT_NO_FATAL_FAILURE(enter(WORLD_OLD_PROTOCOL));
  ASSERT_TRUE(prop_get_old());
  ASSERT_TRUE(oldprop_connected());
  // Query: code 3, three zeros, sector (0, 0), nine sequences, citizen 101.
  EXPECT_EQ("raw 1 03000000" "0000" "0000" + std::string(72, '0') + "00000065", world->wait_for("raw", step));
  EXPECT_TRUE(prop_query_in_progress());
  // Cell (0, 0) with object 33, its end, a delete and an end with no cell open, sector (0, 0)
  // at 0000000b, then a record cut short.
  std::string records = "00" "0000" "0000"
                        "02" "21" "00000008" "01020304" "0064" "0000" "0064" "0000" "07" "00" "00" "626f782e727778"
                        "01"
                        "03" "21" "01"  // no cell open: ignored
                        "04" "0000" "0000" "0000000b"
                        "02" "22" "00000008" "01020304" "0064" "0000" "0064" "0000" "ff" "00" "00" "6162";
  char length[24];
  std::snprintf(length, sizeof length, "%04zx", records.size() / 2);
  world->command("send 1 " + std::string(length) + records);
  ASSERT_NO_FATAL_FAILURE(run_until([] { return !prop_query_in_progress() && numbers_in(0, 0).size() == 1; }));
  visible_start(0, 0);
  element* e = nullptr;
  visible_next(&e);
  EXPECT_EQ(33, element_number(e));
  EXPECT_EQ(8, element_owner(e));
  EXPECT_EQ(0x01020304, element_build_time(e));
  // The sector's four bytes go back exactly as they came, in the next query.
  self_set_position(6.5, 0, 0.5, 0);
  EXPECT_EQ("raw 1 03000000" "0001" "0000" + std::string(24, '0') + "0000000b" + std::string(40, '0') + "00000065",
            world->wait_for("raw", step));
  world->command("send 1 0000");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return !prop_query_in_progress(); }));
  // An add refused with a one-byte reply 3: message 39 and the cell read again from the
  // cache, where the refused object never was.
  element* e40 = object(40, 6.5, 0, 0.5, 0);
  EXPECT_EQ(0, prop_add(e40));
  visible_consider(e40);
  ASSERT_EQ(std::vector<int32_t>{40}, numbers_in(6, 0));
  std::string add = world->wait_for("raw", step);
  EXPECT_EQ(0u, add.find("raw 1 0000" "0000" "00000000" "00000065" "00001964" "00000000" "000001f4" "07" "00" "00"))
      << add;
  world->command("send 1 000103");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return !console.empty() && numbers_in(6, 0).empty(); }));
  EXPECT_EQ(std::vector<std::string>{"2 m125: m39"}, console);
  EXPECT_EQ(0, oldprop_queue_count());
  // An eject carries its session as the one little-endian field; its answer goes to the dialog.
  static std::vector<int> ejects;
  static std::string attributes;
  ejects.clear();
  prop_hook.eject_result = [](int code) { ejects.push_back(code); };
  EXPECT_EQ(0, prop_eject(0x0102, 30));
  EXPECT_EQ("raw 1 01" "00000065" "02010000" "0000001e", world->wait_for("raw", step));
  world->command("send 1 000107");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return !ejects.empty(); }));
  EXPECT_EQ(std::vector<int>{7}, ejects);
  // The attribute query hands the block to its caller.
  EXPECT_EQ(1, prop_query_attributes([](const uint8_t* block, int length, int code) {
    attributes = block ? std::string(reinterpret_cast<const char*>(block), static_cast<size_t>(length)) : "";
    attributes += "/" + std::to_string(code);
  }));
  EXPECT_EQ("raw 1 05000000" "00000065", world->wait_for("raw", step));
  world->command("send 1 0003000241");
  ASSERT_NO_FATAL_FAILURE(run_until([] { return !attributes.empty(); }));
  EXPECT_EQ(std::string("\0\2A/0", 5), attributes);
}

}  // namespace
