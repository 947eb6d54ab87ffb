#include "client/ui/psheet_dialog.h"

#include <span>
#include <vector>

#include "client/shell/psheet.h"

namespace {

using K = QtControl;

// Each page's controls, placed inside its page (556 x 300), a line of the page to a line.
// Frames and notes span the page's column from x 8; a frame's rows start at x 20 and end with it.
constexpr qt_control frame(int id, int y, int height) { return {id, K::Frame, 8, y, 420, height}; }
constexpr qt_control note(int id, int y, int height) { return {id, K::Status, 8, y, 420, height}; }
constexpr qt_control check(int id, int y) { return {id, K::Check, 20, y, 396, 22}; }
constexpr qt_control radio(int id, int y) { return {id, K::Radio, 20, y, 396, 22, 1}; }
// A number in a row of its own: the caption, the edit with its up-down, the unit.
constexpr qt_control caption(int id, int y) { return {id, K::Label, 20, y, 150, 22}; }
constexpr qt_control number(int id, int y, int updown) { return {id, K::Spin, 176, y - 2, 64, 24, updown}; }
constexpr qt_control unit(int id, int y) { return {id, K::Label, 248, y, 170, 22}; }

const qt_control kPerform[] = {
    frame(810, 6, 104),
    caption(811, 28), number(804, 28, 806), unit(812, 28),
    caption(813, 60), number(805, 60, 807), unit(814, 60),
    frame(817, 114, 104),
    check(801, 136),
    check(802, 160),
    check(803, 184),
    frame(815, 222, 76),
    {808, K::Check, 20, 244, 24, 22}, {816, K::Label, 44, 244, 372, 22},
    check(809, 268),
};

const qt_control kDisk[] = {
    note(609, 6, 40),
    frame(612, 50, 156),
    radio(601, 72),
    {602, K::Radio, 20, 100, 170, 22, 1}, {603, K::Spin, 196, 98, 72, 24, 604}, {610, K::Label, 276, 100, 60, 22},
    {605, K::Check, 20, 136, 170, 22}, {606, K::Spin, 196, 134, 72, 24, 607}, {611, K::Label, 276, 136, 60, 22},
    {608, K::Status, 20, 168, 396, 34},
};

const qt_control kProxy[] = {
    note(404, 6, 56),
    frame(407, 66, 120),
    check(401, 88),
    {405, K::Label, 20, 120, 80, 22}, {402, K::NotifyEdit, 104, 118, 312, 24},
    {406, K::Label, 20, 152, 80, 22}, {403, K::NotifyEdit, 104, 150, 80, 24},
};

// Each frame holds its own words: the note on sounds under the sound switches, the rating's
// caption right over its box.
const qt_control kGeneral[] = {
    frame(1104, 6, 112),
    check(1101, 28),
    check(1102, 54),
    {1108, K::Status, 20, 80, 396, 34},
    frame(1105, 126, 96),
    {1106, K::Status, 20, 148, 396, 22},
    {1107, K::Label, 20, 180, 80, 22}, {1103, K::Combo, 104, 178, 100, 24},
};

// Two framed columns: pictures on the left, audio on the right.
const qt_control kDloptions[] = {
    note(1213, 6, 40),
    {1214, K::Frame, 8, 50, 206, 130},
    {1201, K::Radio, 20, 72, 180, 22, 1},
    {1202, K::Radio, 20, 98, 70, 22, 1}, {1204, K::Spin, 92, 96, 64, 24, 1205}, {1215, K::Label, 162, 98, 40, 22},
    {1203, K::Radio, 20, 124, 180, 22, 1},
    {1212, K::Frame, 222, 50, 206, 130},
    {1206, K::Radio, 234, 72, 180, 22, 2},
    {1207, K::Radio, 234, 98, 70, 22, 2}, {1209, K::Spin, 306, 96, 64, 24, 1210}, {1211, K::Label, 376, 98, 40, 22},
    {1208, K::Radio, 234, 124, 180, 22, 2},
};

const qt_control kPrivacy[] = {
    frame(206, 6, 136),
    radio(201, 28),
    radio(202, 54),
    radio(203, 80),
    {204, K::Check, 40, 108, 376, 22},
    frame(207, 148, 60),
    check(205, 172),
};

const qt_control kChat[] = {
    frame(1160, 6, 84),
    caption(1161, 28), number(1156, 28, 1158), unit(1162, 28),
    caption(1163, 58), number(1157, 58, 1159), unit(1164, 58),
    frame(1167, 96, 56),
    check(1151, 118),
    frame(1165, 158, 92),
    check(1153, 180),
    {1166, K::Label, 20, 212, 80, 22}, {1154, K::NotifyEdit, 104, 210, 220, 24}, {1155, K::Button, 332, 208, 84, 28},
};

const qt_control kAdvanced[] = {
    frame(656, 6, 116),
    {658, K::Label, 20, 28, 396, 22},
    {651, K::NotifyEdit, 20, 54, 396, 24},
    check(652, 88),
    frame(657, 128, 84),
    {659, K::Label, 20, 150, 396, 22},
    {655, K::Combo, 20, 176, 200, 24}, {653, K::Label, 230, 178, 0, 0}, {654, K::Label, 230, 178, 0, 0},
};

// In the sheet's page order.
const std::span<const qt_control> kPages[PSHEET_PAGES] = {kPerform,   kDisk,    kProxy, kGeneral,
                                                         kDloptions, kPrivacy, kChat,  kAdvanced};

std::vector<qt_control> make_controls() {
  std::vector<qt_control> all = {
      {PSHEET_TABS, K::Tabs, 8, 8, 564, 340},
      {DIALOG_OK, K::DefaultButton, 228, 360, 80, 28},
      {DIALOG_CANCEL, K::Button, 316, 360, 80, 28},
      {PSHEET_APPLY, K::Button, 404, 360, 80, 28},
      {PSHEET_HELP, K::Button, 492, 360, 80, 28},
  };
  for (int k = 0; k < PSHEET_PAGES; ++k)
    for (qt_control c : kPages[k]) {
      c.page = k + 1;
      all.push_back(c);
    }
  return all;
}

const std::vector<qt_control>& controls() {
  static const std::vector<qt_control> all = make_controls();
  return all;
}

}  // namespace

const qt_dialog_template psheet_dialog_table = {PSHEET_DIALOG, 580, 396, controls().data(),
                                                controls().size()};

void psheet_dialogs_register() { qt_dialog_register(&psheet_dialog_table); }
