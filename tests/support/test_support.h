#pragma once
// What most tests use: the Linux side (files, pty pairs), the Windows side
// (processes, windows, waiting) and the stand-in player window.

#include "player_window.h"
#include "process_support.h"
#include "wine_support.h"
