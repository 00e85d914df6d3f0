// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// libvips set up for the processes that decode: called once on the main
// thread, first thing in main, before any other thread starts.
namespace VipsRuntime {

// Starts libvips with its operation cache off (a file changed on disk is read
// anew), only our six loaders allowed, and its worker threads sized so that
// several files at once do not oversubscribe the cores. Safe to call again.
void initialize();

} // namespace VipsRuntime
