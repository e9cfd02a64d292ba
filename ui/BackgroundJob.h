#pragma once
// Runs a long piece of work off the user-interface thread while that thread keeps painting.
#include <functional>

class QWidget;

namespace kvelv {

// Runs `work` on a worker thread and returns when it is done, handling events meanwhile; a busy
// indicator owned by `owner` shows when the work lasts longer than about a second. An exception
// escaping `work` is rethrown here, on the calling thread.
void RunInBackground(QWidget* owner, const std::function<void()>& work);

}  // namespace kvelv
