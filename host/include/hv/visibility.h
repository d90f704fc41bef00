#pragma once

// Host interfaces stay visible even to clients built with hidden visibility,
// so that a plug-in shares the host's type information and vtables.
#define HV_API __attribute__((visibility("default")))
