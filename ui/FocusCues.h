#pragma once
// Keyboard focus shown from the moment a window opens.
class QWidget;

namespace kvelv {

// The styles draw the focus frame only after the first keyboard focus change in a window, and
// showing a window forgets that change; so the user would not see where Enter goes. This marks
// `window` as changed by keyboard each time it is shown.
void ShowFocusFromTheStart(QWidget* window);

}  // namespace kvelv
