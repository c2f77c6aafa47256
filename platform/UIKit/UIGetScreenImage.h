#pragma once
// The screen grab: the last composed picture of the screen (320 x 480), or null before the
// first composition. The picture is immutable, so the caller's reference is its own copy.
//
// Threads: any thread (the capture thread grabs while the main thread composes).

#include "platform/CoreGraphics/CGImage.h"

CGImageRef UIGetScreenImage();
