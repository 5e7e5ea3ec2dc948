// A second output with the settings of a configured one, for runs that encode several
// tracks at once while the user configured one output of the format (the window's
// format tabs set their one component).
//
// Threads: the caller's, with Model idle.
#pragma once

#include <memory>

#include "core/audio_classes.h"

// A new output of Model's class carrying its settings (format options, tags, comments,
// file mode, idle behaviour), but none of its state nor its events.
std::unique_ptr<TAudioFileOut> NewOutputLike(const TAudioFileOut& Model);
