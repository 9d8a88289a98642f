// Every thread the plug-in starts is joined before the library may be unloaded: a thread
// that frees itself hands its handle over here on its way out instead of detaching, and
// the plug-in's last finalisation joins what is left.
#pragma once

#include <thread>

namespace nclaser {

void NoteThreadStarted();
void NoteThreadJoined();
// Called by a thread about to end (or by one destroying its own object): the handle is
// joined later by another thread, which first waits for it to return.
void HandOverEndingThread(std::thread Thread);
// Joins the threads handed over and waits until every started thread is joined. True when
// none is left within TimeoutMs.
bool JoinEveryThread(int TimeoutMs);

} // namespace nclaser
