// Output sending: short messages, long messages and single bytes to one output.
#pragma once

#include <cstdint>

// Each returns 0 when sent or when there was nothing to send, -1 on failure.
int sendDirect(int output, int value);
