#include "client/ui/psheet_dialog.h"

#include <vector>

#include "client/shell/psheet.h"

namespace {

using K = QtControl;

// Each page's controls, placed inside its page (556 x 300).
const qt_control kPerform[] = {
    {810, K::Frame, 8, 6, 420, 104},
    {811, K::Label, 20, 28, 150, 22},
    {804, K::Spin, 176, 26, 64, 24, 806},
    {812, K::Label, 248, 28, 170, 22},
    {813, K::Label, 20, 60, 150, 22},
    {805, K::Spin, 176, 58, 64, 24, 807},
    {814, K::Label, 248, 60, 170, 22},
    {817, K::Frame, 8, 114, 420, 104},
    {801, K::Check, 20, 136, 396, 22},
    {802, K::Check, 20, 160, 396, 22},
    {803, K::Check, 20, 184, 396, 22},
    {815, K::Frame, 8, 222, 420, 76},
    {808, K::Check, 20, 244, 24, 22},
    {816, K::Label, 44, 244, 372, 22},
    {809, K::Check, 20, 268, 396, 22},
};

const qt_control kDisk[] = {
    {609, K::Status, 8, 6, 420, 40},
    {612, K::Frame, 8, 50, 420, 156},
    {601, K::Radio, 20, 72, 396, 22, 1},
    {602, K::Radio, 20, 100, 170, 22, 1},
    {603, K::Spin, 196, 98, 72, 24, 604},
    {610, K::Label, 276, 100, 60, 22},
    {605, K::Check, 20, 136, 170, 22},
    {606, K::Spin, 196, 134, 72, 24, 607},
    {611, K::Label, 276, 136, 60, 22},
    {608, K::Status, 20, 168, 396, 34},
};

const qt_control kProxy[] = {
    {404, K::Status, 8, 6, 420, 56},
    {407, K::Frame, 8, 66, 420, 120},
    {401, K::Check, 20, 88, 396, 22},
    {405, K::Label, 20, 120, 80, 22},
    {402, K::NotifyEdit, 104, 118, 312, 24},
    {406, K::Label, 20, 152, 80, 22},
    {403, K::NotifyEdit, 104, 150, 80, 24},
};

const qt_control kGeneral[] = {
    {1106, K::Status, 8, 6, 420, 40},
    {1104, K::Frame, 8, 50, 420, 84},
    {1101, K::Check, 20, 72, 396, 22},
    {1102, K::Check, 20, 98, 396, 22},
    {1105, K::Frame, 8, 140, 420, 64},
    {1107, K::Label, 20, 166, 80, 22},
    {1103, K::Combo, 104, 164, 100, 24},
    {1108, K::Status, 8, 212, 420, 40},
};

const qt_control kDloptions[] = {
    {1213, K::Status, 8, 6, 420, 40},
    {1214, K::Frame, 8, 50, 206, 130},
    {1201, K::Radio, 20, 72, 180, 22, 1},
    {1202, K::Radio, 20, 98, 70, 22, 1},
    {1204, K::Spin, 92, 96, 64, 24, 1205},
    {1215, K::Label, 162, 98, 40, 22},
    {1203, K::Radio, 20, 124, 180, 22, 1},
    {1212, K::Frame, 222, 50, 206, 130},
    {1206, K::Radio, 234, 72, 180, 22, 2},
    {1207, K::Radio, 234, 98, 70, 22, 2},
    {1209, K::Spin, 306, 96, 64, 24, 1210},
    {1211, K::Label, 376, 98, 40, 22},
    {1208, K::Radio, 234, 124, 180, 22, 2},
};

const qt_control kPrivacy[] = {
    {206, K::Frame, 8, 6, 420, 136},
    {201, K::Radio, 20, 28, 396, 22, 1},
    {202, K::Radio, 20, 54, 396, 22, 1},
    {203, K::Radio, 20, 80, 396, 22, 1},
    {204, K::Check, 40, 108, 376, 22},
    {207, K::Frame, 8, 148, 420, 60},
    {205, K::Check, 20, 172, 396, 22},
};

const qt_control kChat[] = {
    {1160, K::Frame, 8, 6, 420, 84},
    {1161, K::Label, 20, 28, 150, 22},
    {1156, K::Spin, 176, 26, 64, 24, 1158},
    {1162, K::Label, 248, 28, 170, 22},
    {1163, K::Label, 20, 58, 150, 22},
    {1157, K::Spin, 176, 56, 64, 24, 1159},
    {1164, K::Label, 248, 58, 170, 22},
    {1167, K::Frame, 8, 96, 420, 56},
    {1151, K::Check, 20, 118, 396, 22},
    {1165, K::Frame, 8, 158, 420, 92},
    {1153, K::Check, 20, 180, 396, 22},
    {1166, K::Label, 20, 212, 80, 22},
    {1154, K::NotifyEdit, 104, 210, 220, 24},
    {1155, K::Button, 332, 208, 84, 28},
};

const qt_control kAdvanced[] = {
    {656, K::Frame, 8, 6, 420, 116},
    {658, K::Label, 20, 28, 396, 22},
    {651, K::NotifyEdit, 20, 54, 396, 24},
    {652, K::Check, 20, 88, 396, 22},
    {657, K::Frame, 8, 128, 420, 84},
    {659, K::Label, 20, 150, 396, 22},
    {655, K::Combo, 20, 176, 200, 24},
    {653, K::Label, 230, 178, 0, 0},
    {654, K::Label, 230, 178, 0, 0},
};

struct PageTable {
  const qt_control* controls;
  size_t count;
};
template <size_t N>
constexpr PageTable page(const qt_control (&c)[N]) {
  return {c, N};
}
// In the sheet's page order.
const PageTable kPages[PSHEET_PAGES] = {page(kPerform), page(kDisk),      page(kProxy),
                                        page(kGeneral), page(kDloptions), page(kPrivacy),
                                        page(kChat),    page(kAdvanced)};

std::vector<qt_control> make_controls() {
  std::vector<qt_control> all = {
      {PSHEET_TABS, K::Tabs, 8, 8, 564, 340},
      {DIALOG_OK, K::DefaultButton, 228, 360, 80, 28},
      {DIALOG_CANCEL, K::Button, 316, 360, 80, 28},
      {PSHEET_APPLY, K::Button, 404, 360, 80, 28},
      {PSHEET_HELP, K::Button, 492, 360, 80, 28},
  };
  for (int k = 0; k < PSHEET_PAGES; ++k)
    for (size_t i = 0; i < kPages[k].count; ++i) {
      qt_control c = kPages[k].controls[i];
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
