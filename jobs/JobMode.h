#pragma once
// Who a job answers to: a script in batch mode (nothing asked, the exit code is the report) or a
// person in the window (questions and messages through the prompter).

namespace kvelv {

enum class JobMode { Batch, Interactive };

}  // namespace kvelv
