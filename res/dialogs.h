#pragma once
// The dialog templates of the tool: every control with its identifier, text,
// position and size in dialog units, and style, in template order (which is
// also the tab order).

#include <vector>

enum class ControlKind {
    PushButton,
    DefPushButton,
    Edit,
    Static,
    Icon,
    AutoRadioButton,
    DropDownList,
    ProgressBar,
    IPAddress,
};

namespace ctl {
inline constexpr unsigned kVisible = 1u << 0;
inline constexpr unsigned kDisabled = 1u << 1;
inline constexpr unsigned kTabStop = 1u << 2;
inline constexpr unsigned kGroup = 1u << 3;
inline constexpr unsigned kBorder = 1u << 4;
inline constexpr unsigned kNumber = 1u << 5;
inline constexpr unsigned kAutoHScroll = 1u << 6;
inline constexpr unsigned kCenter = 1u << 7;
inline constexpr unsigned kNoPrefix = 1u << 8;
inline constexpr unsigned kVScroll = 1u << 9;
}  // namespace ctl

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;
    unsigned style;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy;
    int pointSize;  // of "MS Shell Dlg"
    bool clientEdge;
    std::vector<ControlTemplate> controls;
};

// The template with that identifier; the program stops on an unknown one.
const DialogTemplate& FindDialogTemplate(int id);
