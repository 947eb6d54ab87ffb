// The builder: picking through the real camera, moves, turns, copies, deletes and undo on
// the scene's elements, and the props requests they become, down to the bytes on the wire.
#include <cmath>
#include <memory>

#include "client/core/random.h"
#include "client/scene/avatar.h"
#include "client/net/tcp.h"
#include "client/servers/attributes.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "tests/pick/pick_env.h"

using namespace ptest;
using vtest::fake_now;

namespace {

class PickTest : public PickFixture {
 protected:
  // Three objects in cell (0, 0) just ahead of the camera, and one in cell (-1, 0).
  void three() {
    cell_update_begin(0, 0, 1);
    store_at(0, 0, 5, 100, -10, 300);
    store_at(0, 0, 6, 500, -10, 900);
    store_at(0, 0, 8, 100, -10, 800);
    cell_update_end(0);
    ASSERT_NO_FATAL_FAILURE(load(0, 0));
  }
};

TEST_F(PickTest, AClickSelectsTheElementUnderItAndEmptySpaceCommitsNothingUnchanged) {
  ASSERT_NO_FATAL_FAILURE(three());
  element* e = loaded(0, 0, 5);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(1, click(e));
  ASSERT_EQ(1, pick_count());
  EXPECT_EQ(e, pick_element(0));
  EXPECT_EQ(1, pick_has_selection());
  // Out of the scheduler's care while selected.
  EXPECT_EQ(2, visible_cell_count(0, 0));
  EXPECT_TRUE(visible_revealing());
  EXPECT_EQ(1, pdialog_enabled());
  EXPECT_EQ("box.rwx", view()->control(PDIALOG_MODEL).text);
  // The highlight is drawn each frame without harm.
  pick_update();
  // Empty space (a corner that sees past everything): deselects; nothing changed, nothing sent.
  int focus = boxes.focus_count();
  EXPECT_EQ(0, pick_at(0, 0));
  EXPECT_EQ(0, pick_count());
  EXPECT_EQ(3, visible_cell_count(0, 0));
  EXPECT_EQ(5, element_number(loaded(0, 0, 5)));
  EXPECT_EQ(0, prop_pending_count());
  EXPECT_FALSE(pdialog_visible());
  EXPECT_FALSE(visible_revealing());
  EXPECT_EQ(focus + 1, boxes.focus_count());
}

TEST_F(PickTest, ShiftAddsAndRemovesOneAPlainClickOnASelectedOneKeepsOnlyIt) {
  ASSERT_NO_FATAL_FAILURE(three());
  element* a = loaded(0, 0, 5);
  element* b = loaded(0, 0, 6);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(1, click(a));
  EXPECT_EQ(1, click(b, true));
  ASSERT_EQ(2, pick_count());
  EXPECT_EQ(b, pick_element(0));  // newest first
  // Several: the dialog is shown empty and disabled, without the duplicate command.
  EXPECT_EQ(0, pdialog_enabled());
  EXPECT_TRUE(pdialog_visible());
  EXPECT_FALSE(view()->control(PDIALOG_MODEL).enabled);
  EXPECT_FALSE(view()->control(PICK_DUPLICATE).enabled);
  EXPECT_EQ(1, click(a, true));
  ASSERT_EQ(1, pick_count());
  EXPECT_EQ(b, pick_element(0));
  EXPECT_EQ(1, pdialog_enabled());
  EXPECT_EQ(1, click(a, true));
  EXPECT_EQ(2, pick_count());
  pdialog_hide();  // several selected: the dialog does not edit one
  EXPECT_EQ(1, click(a));
  ASSERT_EQ(1, pick_count());
  EXPECT_EQ(a, pick_element(0));
  EXPECT_EQ(0, prop_pending_count());
}

TEST_F(PickTest, ControlTakesTheWholeCellAndTurningRotatesAboutTheBoundingRectangle) {
  ASSERT_NO_FATAL_FAILURE(three());
  element* a = loaded(0, 0, 5);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(1, click(a, false, true));
  ASSERT_EQ(3, pick_count());
  EXPECT_EQ(0, visible_cell_count(0, 0));
  EXPECT_EQ(0, pick_quadrant());  // facing north
  pick_command(PICK_TURN_LEFT);
  // Centre (0.3, 0.6); every object turned by -15 degrees about it, its yaw by +15.
  EXPECT_NEAR(0.0291691, element_x(a), 1e-6);
  EXPECT_NEAR(0.3619861, element_z(a), 1e-6);
  EXPECT_FLOAT_EQ(15.0f, element_yaw(a));
  element* c = nullptr;
  for (int i = 0; i < 3; ++i)
    if (element_number(pick_element(i)) == 8) c = pick_element(i);
  ASSERT_NE(nullptr, c);
  // (0.1, 0.8): dx -0.2, dz 0.2.
  EXPECT_NEAR(0.9659258 * -0.2 + 0.2588190 * 0.2 + 0.3, element_x(c), 1e-6);
  EXPECT_NEAR(0.2588190 * 0.2 + 0.9659258 * 0.2 + 0.6, element_z(c), 1e-6);
  // The clump follows.
  VxVector o{};
  ASSERT_EQ(1, VxGetClumpOrigin(element_clump(a), &o));
  EXPECT_NEAR(element_x(a), o.x, 1e-5);
  // Moving "away" follows the selection's own axis nearest to the view: 15 degrees here.
  double x0 = element_x(a), z0 = element_z(a);
  pick_command(PICK_MOVE_AWAY);
  EXPECT_NEAR(x0 + std::sin(15 * M_PI / 180) * 0.05, element_x(a), 1e-6);
  EXPECT_NEAR(z0 + std::cos(15 * M_PI / 180) * 0.05, element_z(a), 1e-6);
  // With Shift held, a raise is a tenth of the step.
  boxes.set_key(0x10, true);
  pick_command(PICK_RAISE);
  boxes.set_key(0x10, false);
  EXPECT_NEAR(-0.005, element_y(a), 1e-9);
  pick_command(PICK_LOWER);
  EXPECT_NEAR(-0.055, element_y(a), 1e-9);
  // Undo puts everything back; releasing then sends nothing.
  pick_command(PICK_UNDO);
  EXPECT_DOUBLE_EQ(0.1, element_x(a));
  EXPECT_DOUBLE_EQ(-0.01, element_y(a));
  EXPECT_DOUBLE_EQ(0.3, element_z(a));
  EXPECT_FLOAT_EQ(0.0f, element_yaw(a));
  pick_off();
  EXPECT_EQ(0, prop_pending_count());
  EXPECT_EQ(3, visible_cell_count(0, 0));
}

TEST_F(PickTest, AMoveIsSentAsAChangeWithANewNumberAndThePriorOne) {
  ASSERT_NO_FATAL_FAILURE(three());
  element* a = loaded(0, 0, 5);
  EXPECT_EQ(1, click(a));
  pick_command(PICK_MOVE_RIGHT);
  EXPECT_NEAR(0.15, element_x(a), 1e-9);  // quadrant 1 from a yaw of 0: +x
  random_reset();
  random_seed(4321);
  int32_t expected = static_cast<int32_t>(random_next());
  random_reset();
  random_seed(4321);
  pick_off();
  // Outside a world the change waits in the props module, said on the console; the new
  // element is in the scene.
  EXPECT_EQ(1, prop_pending_count());
  EXPECT_EQ(std::vector<std::string>{"2 m125: m13"}, vtest::console);
  EXPECT_EQ(nullptr, loaded(0, 0, 5));
  element* fresh = loaded(0, 0, expected);
  ASSERT_NE(nullptr, fresh);
  EXPECT_NEAR(0.15, element_x(fresh), 1e-9);
  EXPECT_EQ(100, element_build_time(fresh));
}

TEST_F(PickTest, TheOldProtocolAllowsOneObjectAndPicksWithoutTheBuildingRight) {
  ASSERT_NO_FATAL_FAILURE(three());
  pick_disable();
  element* a = loaded(0, 0, 5);
  element* b = loaded(0, 0, 6);
  EXPECT_EQ(0, click(a));
  EXPECT_EQ(0, pick_count());
  prop_set_old(1);
  EXPECT_EQ(1, click(a));
  EXPECT_EQ(0, click(b, true));  // a second object cannot be selected
  EXPECT_EQ(1, pick_count());
  EXPECT_EQ(3, visible_cell_count(0, 0) + pick_count());  // b went back to the scheduler
  pick_reset();
  prop_set_old(0);
}

TEST_F(PickTest, DuplicatesAreNewUntilSentAndDeletingOneNeverSentSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(three());
  element* a = loaded(0, 0, 5);
  EXPECT_EQ(1, click(a));
  int before = element_count();
  pick_command(PICK_DUPLICATE);
  ASSERT_EQ(1, pick_count());
  element* copy = pick_element(0);
  EXPECT_NE(a, copy);
  EXPECT_EQ(before + 1, element_count());
  EXPECT_NEAR(0.35, element_z(copy), 1e-9);  // moved forward
  EXPECT_EQ(1, pdialog_enabled());
  EXPECT_EQ(0, prop_pending_count());  // the first object was unchanged
  pick_command(PICK_DELETE);
  EXPECT_EQ(0, pick_count());
  EXPECT_EQ(0, prop_pending_count());
  EXPECT_EQ(before, element_count());
  EXPECT_FALSE(pdialog_visible());
  // Deleting a real one is a request.
  EXPECT_EQ(1, click(loaded(0, 0, 6)));
  pick_command(PICK_DELETE);
  EXPECT_EQ(1, prop_pending_count());
  EXPECT_EQ(2, visible_cell_count(0, 0));
}

TEST_F(PickTest, BadInputNeverCrashes) {
  ASSERT_NO_FATAL_FAILURE(three());
  // Commands, undo and the frame with nothing selected; a world without the building right.
  pick_disable();
  for (int c : {108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 140, 0, -1}) pick_command(c);
  pick_update();
  pick_off();
  EXPECT_EQ(0, pick_at(-5, 100000));
  pick_enable();
  // A clump in the scene that belongs to no element.
  ASSERT_EQ(1, VxBeginModel());
  ASSERT_EQ(1, VxBeginClump());
  int p = VxAddVertex(-3, -3, 2), q = VxAddVertex(3, -3, 2), r = VxAddVertex(3, 3, 2), s = VxAddVertex(-3, 3, 2);
  VxAddQuad(p, q, r, s);
  VxAddQuad(s, r, q, p);
  VxClump* wall = VxEndClump();
  ASSERT_EQ(1, VxEndModel());
  ASSERT_EQ(1, VxAddClumpToScene(scene_world(), wall));
  int w = 0, h = 0;
  camera_size(&w, &h);
  VxRemoveClumpFromScene(wall);
  element* a = loaded(0, 0, 5);
  EXPECT_EQ(1, click(a));
  VxAddClumpToScene(scene_world(), wall);
  EXPECT_EQ(0, pick_at(w - 1, h - 1));  // the wall: not an element, so picking ends
  EXPECT_EQ(0, pick_count());
  VxRemoveClumpFromScene(wall);
  VxDestroyClump(wall);
  // The server deletes a selected object: the entry goes, the dialog with it.
  EXPECT_EQ(1, click(loaded(0, 0, 6)));
  int count = element_count();
  pick_object_gone(0, 0, 99);  // another object: kept
  EXPECT_EQ(1, pick_count());
  pick_object_gone(0, 0, 6);
  EXPECT_EQ(0, pick_count());
  EXPECT_EQ(count - 1, element_count());
  EXPECT_FALSE(pdialog_visible());
  pick_command(PICK_RAISE);
  pick_off();
  EXPECT_EQ(0, prop_pending_count());
  // The building right withdrawn while something is selected commits it.
  element* b = loaded(0, 0, 8);
  EXPECT_EQ(1, click(b));
  pick_command(PICK_RAISE);
  pick_disable();
  EXPECT_EQ(0, pick_count());
  EXPECT_EQ(1, prop_pending_count());
  pick_command(PICK_RAISE);
}

// ---- over loopback ---------------------------------------------------------------------

class PickLink : public vtest::Loopback<PickFixture> {
 protected:
  void start(const std::string& world_config) {
    ASSERT_NO_FATAL_FAILURE(Loopback::start(world_config));
    ASSERT_EQ(0, world_enter("demo"));
    ASSERT_NO_FATAL_FAILURE(run_until([] { return world_state() == WORLD_IN; }));
    // The world's building attribute reaches the builder.
    const bool building = world_config.find("[30,\"Y\"]") != std::string::npos;
    ASSERT_NO_FATAL_FAILURE(run_until([building] { return attribute_received(ATTR_BUILDING) == building; }));
    EXPECT_EQ(building ? 1 : 0, pick_building());
    ASSERT_NO_FATAL_FAILURE(run_until([] { return visible_cell_loaded(0, 0) && numbers_in(0, 0).size() == 2; }));
  }
};

const char kTwoObjects[] =
    R"({"mode":"new","attributes":[[30,"Y"]],"cells":[{"x":0,"z":0,"objects":[)"
    R"({"number":5,"owner":7,"time":100,"x":100,"y":-10,"z":300,"model":"box.rwx","description":"old"},)"
    R"({"number":6,"owner":7,"time":100,"x":500,"y":-10,"z":900,"model":"box.rwx"}]}]})";

TEST_F(PickLink, ChangingOnlyTheDescriptionSendsAChangeWithTheExactBytes) {
  ASSERT_NO_FATAL_FAILURE(start(kTwoObjects));
  element* a = loaded(0, 0, 5);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(1, click(a));
  ASSERT_EQ(1, pdialog_enabled());
  EXPECT_EQ("old", view()->control(PDIALOG_DESCRIPTION).text);
  view()->set_text(PDIALOG_DESCRIPTION, "");
  view()->type(PDIALOG_DESCRIPTION, "new");
  random_reset();
  random_seed(4321);
  uint32_t n = random_next();
  random_reset();
  random_seed(4321);
  // Enter in an edit ends building.
  EXPECT_TRUE(pdialog_key(PDIALOG_DESCRIPTION, 0x0D, false));
  EXPECT_EQ(0, pick_count());
  char number[9];
  snprintf(number, sizeof number, "%08x", n);
  // change, prior 5, cell (0, 0), new number, x 0.1, y -0.01, z 0.3, yaw 0, texts, owner 7.
  EXPECT_EQ(std::string("frame 1 01") + "00000005" + "0000" + "0000" + number + "00000064" + "fffffff6" +
                "0000012c" + "0000" + "07626f782e727778" + "036e6577" + "00" + "00000007",
            world->wait_for("frame 1 01", step));
}

TEST_F(PickLink, WithoutTheBuildingRightNothingIsPicked) {
  std::string config = kTwoObjects;
  config.replace(config.find(R"("attributes":[[30,"Y"]],)"), 24, "");
  ASSERT_NO_FATAL_FAILURE(start(config));
  element* a = loaded(0, 0, 5);
  EXPECT_EQ(0, click(a));
  EXPECT_EQ(0, pick_count());
  for (int c : {108, 109, 110, 140}) pick_command(c);
  EXPECT_EQ(2u, numbers_in(0, 0).size());
}

TEST_F(PickLink, DeletesAndDuplicatesGoOutAsDeleteAndAdd) {
  ASSERT_NO_FATAL_FAILURE(start(kTwoObjects));
  random_reset();
  random_seed(77);
  EXPECT_EQ(1, click(loaded(0, 0, 6)));
  pick_command(PICK_DELETE);
  EXPECT_EQ("frame 1 03" "00000006" "0000" "0000", world->wait_for("frame 1 03", step));
  ASSERT_NO_FATAL_FAILURE(run_until([] { return numbers_in(0, 0).size() == 1; }));
  EXPECT_EQ(1, click(loaded(0, 0, 5)));
  pick_command(PICK_DUPLICATE);
  ASSERT_EQ(1, pick_count());
  int32_t copy_number = element_number(pick_element(0));
  random_reset();
  random_seed(4321);
  uint32_t n = random_next();
  random_reset();
  random_seed(4321);
  pick_off();
  char number[9];
  snprintf(number, sizeof number, "%08x", n);
  // The copy 0.05 further north, owned by the user, with the copied object's texts.
  EXPECT_EQ(std::string("frame 1 00") + number + "00000064" + "fffffff6" + "0000015e" + "0000" + "07626f782e727778" +
                "036f6c64" + "00",
            world->wait_for("frame 1 00", step));
  EXPECT_NE(0, copy_number);
  EXPECT_NE(static_cast<int32_t>(n), copy_number);  // the copy's own number is not the one sent
}

// The left edge pixels are drawn, though the ray through them misses: a right-click finds it.
TEST_F(PickTest, AnAvatarIsFoundOnEveryPixelOfItsEdge) {
  ASSERT_NO_FATAL_FAILURE(three());
  VxClump* c = element_clump(loaded(0, 0, 6));
  int w = 0, h = 0, left = 1 << 20, row = 0;
  camera_size(&w, &h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w && x < left; ++x)
      if (scene_pick(x, y) == c) left = x, row = y;
  ASSERT_NE(c, scene_pick(left - 1, row));
  EXPECT_EQ(c, avatar_part_at(scene_world(), c, left - 1, row));
  EXPECT_NE(c, avatar_part_at(scene_world(), c, left - 2, row));
}

}  // namespace
