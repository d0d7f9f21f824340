#pragma once

namespace kestrix {

/// Lets a long-running process keep the memory it freed, up to a few tens of megabytes,
/// instead of handing the top of its heap back to the system after every short-lived
/// buffer. A worker that allocates and frees the same few hundred kilobytes for every
/// document (a statement's temporary b-tree, a style sheet's output) otherwise pays a
/// system call and fresh page faults each time. Called once, first thing, by a program's
/// `main`; a library never calls it for its host.
void KeepFreedHeap();

}  // namespace kestrix
