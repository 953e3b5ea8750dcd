#include "support/Util_fun_help.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/ui/ui.h"
#include "platform/win/syscolor.h"
#include "support/Util_fun_geometry.h"
#include "support/Util_fun_titles.h"

struct ControlHelpObject {
  int owner = 0;
  int count = 0;
  int *ids = nullptr;
  char **texts = nullptr;
  int panel = 0;  // the help panel, 0 until made
  int text = 0;
  int hide_timer = 0;
  bool shown = false;
  bool polling = false;  // the interval written last was the fast one
  bool fast = false;
  int poll_timer = 0;
  int current = -1;
  bool owner_active = false;
  double hover_start = 0;
  bool top_level = false;
  bool enabled = true;
};

namespace {

constexpr double kSlowPoll = 0.5, kFastPoll = 0.1, kShowFor = 8.0;
constexpr int kGap = 8, kTextSize = 12;
constexpr const char *kFont = "NIAppMetaFont";

// The control whose help is shown, shared by every help object (-1 none),
// and the object that set it (a discarded object takes its id along).
int shown_id = -1;
const ControlHelpObject *shown_by = nullptr;
std::vector<std::unique_ptr<ControlHelpObject>> objects;

// 0x00BBGGRR to 0x00RRGGBB.
int platform_colour(uint32_t system) {
  return static_cast<int>(((system & 0xFFu) << 16) | (system & 0xFF00u) | ((system >> 16) & 0xFFu));
}

struct Colours {
  int back, text;
};
const Colours &tooltip_colours() {
  static const Colours c{platform_colour(GetSysColor(COLOR_INFOBK)), platform_colour(GetSysColor(COLOR_INFOTEXT))};
  return c;
}

void set_shown_id(const ControlHelpObject &h, int id) {
  if (id >= 0 || shown_id == 0 || GetActivePanel() == h.owner) {
    shown_id = id;
    shown_by = &h;
  }
}

bool contains(const PanelRect &r, int x, int y) {
  return x >= r.left && x < r.left + r.width && y >= r.top && y < r.top + r.height;
}

// A visible child panel of the owner, other than the help panel, over the point.
bool covered(const ControlHelpObject &h, int x, int y) {
  int child = 0;
  GetPanelAttribute(h.owner, ATTR_FIRST_CHILD, &child);
  while (child > 0) {
    int visible = 0;
    PanelRect r{};
    if (child != h.panel && GetPanelAttribute(child, ATTR_VISIBLE, &visible) == 0 && visible &&
        GetPanelBoundingRect(child, &r) == 0 && contains(r, x, y))
      return true;
    if (GetPanelAttribute(child, ATTR_NEXT_PANEL, &child) != 0) break;
  }
  return false;
}

int entry_at(const ControlHelpObject &h, int x, int y) {
  if (covered(h, x, y)) return -1;
  for (int i = 0; i < h.count; ++i) {
    if (h.ids[i] < 0) continue;
    int visible = 0;
    PanelRect r{};
    if (GetCtrlAttribute(h.owner, h.ids[i], ATTR_VISIBLE, &visible) != 0 || !visible) continue;
    if (GetCtrlBoundingRect(h.owner, h.ids[i], &r.top, &r.left, &r.height, &r.width) != 0) continue;
    if (contains(r, x, y)) return i;
  }
  return -1;
}

int HelpPollCallback(int panel, int control, int event, void *data, int, int);
int HelpTimerCallback(int panel, int control, int event, void *data, int, int);

int make_panel(ControlHelpObject &h) {
  const Colours &c = tooltip_colours();
  const int p = NewPanel(h.top_level ? 0 : h.owner, "Help Panel", 0, 0, 20, 100);
  if (p < 0) return p;
  int r = 0;
  const auto step = [&r](int result) {
    if (r == 0 && result < 0) r = result;
    return result;
  };
  step(SetPanelAttribute(p, ATTR_TITLEBAR_VISIBLE, 0));
  step(SetPanelAttribute(p, ATTR_TITLEBAR_THICKNESS, 0));
  step(SetPanelAttribute(p, ATTR_FRAME_THICKNESS, 0));
  step(SetPanelAttribute(p, ATTR_FILL_COLOR, c.back));
  const int text = step(NewCtrl(p, CTRL_TEXT_MSG, 0, "", 0, 0, 20, 100));
  if (r == 0) {
    step(SetCtrlAttribute(p, text, ATTR_LABEL_VISIBLE, 0));
    step(SetCtrlAttribute(p, text, ATTR_TEXT_FONT, kFont));
    step(SetCtrlAttribute(p, text, ATTR_TEXT_POINT_SIZE, kTextSize));
    step(SetCtrlAttribute(p, text, ATTR_TEXT_COLOR, c.text));
  }
  const int hide = r == 0 ? step(NewCtrl(p, CTRL_TIMER, 0, "Help Timer", 0, 0, 0, 0)) : 0;
  if (r == 0) {
    step(SetCtrlAttribute(p, hide, ATTR_INTERVAL, kShowFor));
    step(SetCtrlAttribute(p, hide, ATTR_ENABLED, 0));
    step(InstallCtrlCallback(p, hide, HelpTimerCallback, &h));
  }
  const int poll = r == 0 ? step(NewCtrl(p, CTRL_TIMER, 0, "Help Poll Timer", -150, -150, 0, 0)) : 0;
  if (r == 0) {
    step(SetCtrlAttribute(p, poll, ATTR_INTERVAL, kSlowPoll));
    step(InstallCtrlCallback(p, poll, HelpPollCallback, &h));
  }
  if (r != 0) {
    DiscardPanel(p);
    return r;
  }
  h.panel = p;
  h.text = text;
  h.hide_timer = hide;
  h.poll_timer = poll;
  h.polling = false;
  return 0;
}

enum class HideCause { timer, left_control, left_panel };

void hide(ControlHelpObject &h, HideCause cause) {
  if (!h.shown) return;
  HidePanel(h.panel);
  h.shown = false;
  h.fast = cause == HideCause::left_control;
  SetCtrlAttribute(h.panel, h.hide_timer, ATTR_ENABLED, 0);
  if (cause != HideCause::timer) {
    set_shown_id(h, -1);
    h.current = -1;
  }
}

// Shows entry i's text below its control; false when nothing was shown.
bool show(ControlHelpObject &h, int i) {
  const char *text = h.texts != nullptr ? h.texts[i] : nullptr;
  if (text == nullptr || text[0] == '\0' || !h.enabled) return false;
  if (h.panel == 0 && make_panel(h) != 0) return false;
  SetCtrlVal(h.panel, h.text, text);
  SetCtrlAttribute(h.panel, h.text, ATTR_TEXT_POINT_SIZE, kTextSize);
  int th = 0, tw = 0;
  GetTextDisplaySize(text, kFont, kTextSize, &th, &tw);
  int ct = 0, cl = 0, ch = 0, cw = 0;
  GetCtrlAttribute(h.owner, h.ids[i], ATTR_TOP, &ct);
  GetCtrlAttribute(h.owner, h.ids[i], ATTR_LEFT, &cl);
  GetCtrlAttribute(h.owner, h.ids[i], ATTR_HEIGHT, &ch);
  GetCtrlAttribute(h.owner, h.ids[i], ATTR_WIDTH, &cw);
  int dy = 0, dx = 0, bound_h = 0, bound_w = 0;
  if (h.top_level) {
    GetPanelAttribute(h.owner, ATTR_TOP, &dy);
    GetPanelAttribute(h.owner, ATTR_LEFT, &dx);
    GetDesktopSize(&bound_h, &bound_w);
  } else {
    GetPanelAttribute(h.owner, ATTR_HEIGHT, &bound_h);
    GetPanelAttribute(h.owner, ATTR_WIDTH, &bound_w);
  }
  int left = dx + cl + cw / 2;
  int top = dy + ct + ch + kGap;
  if (left + tw > bound_w) left = bound_w - tw - 1;
  if (top + th > bound_h) top = dy + ct - th - kGap;
  SetCtrlAttribute(h.panel, h.text, ATTR_HEIGHT, th);
  SetCtrlAttribute(h.panel, h.text, ATTR_WIDTH, tw);
  SetPanelAttribute(h.panel, ATTR_TOP, top);
  SetPanelAttribute(h.panel, ATTR_LEFT, left);
  SetPanelAttribute(h.panel, ATTR_HEIGHT, th);
  SetPanelAttribute(h.panel, ATTR_WIDTH, tw);
  DisplayPanel(h.panel);  // also brings a child to the front of the owner's children
  if (h.top_level) {
    SetPanelAttribute(h.panel, ATTR_FLOATING, VAL_FLOAT_ALWAYS);
    SetActivePanel(h.owner);
  }
  SetCtrlAttribute(h.panel, h.hide_timer, ATTR_INTERVAL, kShowFor);  // restarts it
  SetCtrlAttribute(h.panel, h.hide_timer, ATTR_ENABLED, 1);
  h.shown = true;
  return true;
}

void poll(ControlHelpObject &h) {
  int visible = 0;
  if (GetPanelAttribute(h.owner, ATTR_VISIBLE, &visible) != 0 || !visible) return;
  const bool active = GetActivePanel() == h.owner;
  const bool fast = active && h.fast;
  if (active != h.owner_active || fast != h.polling) {
    SetCtrlAttribute(h.panel, h.poll_timer, ATTR_INTERVAL, fast ? kFastPoll : kSlowPoll);
    h.polling = fast;
  }
  h.owner_active = active;
  if (!active) return;
  int x = 0, y = 0, button = 0, height = 0, width = 0;
  GetRelativeMouseState(h.owner, 0, &x, &y, &button);
  GetPanelAttribute(h.owner, ATTR_HEIGHT, &height);
  GetPanelAttribute(h.owner, ATTR_WIDTH, &width);
  if (x < 0 || y < 0 || y > height || x > width) {
    hide(h, HideCause::left_panel);
    h.fast = false;
  }
  const int i = entry_at(h, x, y);
  if (i < 0) {
    hide(h, HideCause::left_control);
    set_shown_id(h, -1);
    h.current = -1;
    return;
  }
  const double now = QVTimer();
  if (i != h.current) {
    h.current = i;
    h.hover_start = now;
  }
  if (shown_id != h.ids[i] && now - h.hover_start >= (h.fast ? kFastPoll : kSlowPoll) - 1e-9 && show(h, i)) {
    h.fast = true;
    set_shown_id(h, h.ids[i]);
  }
}

int HelpPollCallback(int, int, int event, void *data, int, int) {
  if (event == EVENT_TIMER_TICK && data != nullptr) poll(*static_cast<ControlHelpObject *>(data));
  return 0;
}

int HelpTimerCallback(int, int, int event, void *data, int, int) {
  if (event == EVENT_TIMER_TICK && data != nullptr) hide(*static_cast<ControlHelpObject *>(data), HideCause::timer);
  return 0;
}

}  // namespace

int ControlHelp_New(int owner, int *ids, int count, char **texts, ControlHelpObject **help, int top_level) {
  if (help != nullptr) *help = nullptr;
  if (owner == 0) return 0;
  if (help == nullptr || count < 0 || (count > 0 && ids == nullptr)) return UIE_BAD_ARGUMENT;
  int visible = 0;
  if (const int r = GetPanelAttribute(owner, ATTR_VISIBLE, &visible); r < 0) return r;
  auto h = std::make_unique<ControlHelpObject>();
  h->owner = owner;
  h->count = count;
  h->top_level = top_level != 0;
  if (const int r = make_panel(*h); r < 0) return r;  // the arrays stay the caller's
  h->ids = ids;
  h->texts = texts;
  *help = h.get();
  objects.push_back(std::move(h));
  return 0;
}

void ControlHelp_Discard(ControlHelpObject *help) {
  const auto it = std::find_if(objects.begin(), objects.end(), [help](const auto &o) { return o.get() == help; });
  if (help == nullptr || it == objects.end()) return;
  if (help->panel > 0) DiscardPanel(help->panel);
  if (shown_by == help) {
    shown_id = -1;
    shown_by = nullptr;
  }
  if (help->texts != nullptr) {
    for (int i = 0; i < help->count; ++i) std::free(help->texts[i]);
    std::free(help->texts);
  }
  std::free(help->ids);
  objects.erase(it);
}

int ControlHelp_Active(ControlHelpObject *help) { return help != nullptr && help->shown ? 1 : 0; }

void ControlHelp_Enable(ControlHelpObject *help, int on) {
  if (help != nullptr) help->enabled = on != 0;
}

int GetPanelBoundingRect(int panel, PanelRect *rect) {
  if (rect == nullptr) return UIE_BAD_ARGUMENT;
  int top = 0, left = 0, height = 0, width = 0, frame = 0, bar_visible = 0, bar = 0;
  for (const auto &[attribute, value] : {std::pair{ATTR_TOP, &top}, std::pair{ATTR_LEFT, &left},
                                         std::pair{ATTR_HEIGHT, &height}, std::pair{ATTR_WIDTH, &width},
                                         std::pair{ATTR_FRAME_THICKNESS, &frame},
                                         std::pair{ATTR_TITLEBAR_VISIBLE, &bar_visible},
                                         std::pair{ATTR_TITLEBAR_THICKNESS, &bar}}) {
    if (const int r = GetPanelAttribute(panel, attribute, value); r < 0) return r;
  }
  if (!bar_visible) bar = 0;
  rect->left = left - frame;
  rect->top = std::max(0, top - bar - frame);
  rect->height = height + bar + 2 * frame;
  rect->width = width + 2 * frame;
  return 0;
}
