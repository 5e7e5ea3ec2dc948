// Finding a drive's read offset from the window without freezing it: the search reads
// the disc on a thread of its own while a progress dialog tells which track it reads
// and can stop it.
//
// Threads: called on the window thread, which keeps handling events until the search
// ends.
#pragma once

#include <optional>
#include <string>

#include "core/problem.h"
#include "jobs/offset_finder.h"

class QWidget;

// The read offset of Drive found with the AccurateRip database at Server (empty: its own
// address); nullopt when none matches, the search failed (Problem then says why in a
// sentence) or the user stopped it (no problem).
std::optional<TFoundOffset> SearchReadOffset(QWidget* Parent, int Drive, const std::string& Server,
                                             TProblem& Problem);
