#pragma once
// The only way stored commands reach the bus: SendCommand picks the sender for
// a command kind, and RunCommandList sends a whole list with the pause rule.
#include "playback/PublicVariable.h"

#include <cstdint>
#include <vector>

// Pause after a command whose DelayMS is 0 or less.
constexpr int MinCommandPauseMS = 50;

// Sends one command through the sender of its kind (CommandTypeID):
//    0  0x0002  first, second          7  0xE3E0  first, second
//    1  0x001A  first, second          8  0xF116  first, second
//    2  0xE01C  first, second          9  0xE3D4  first, second
//    4  0x0031  first, second, third  10  0xE3D8  first, second
//    5  0x0002  255, second           11  0x0104  first, second
//    6  0x0031  255, second, third    12  0x010C  first, second, 0, third
// Byte positions take the low 8 bits. Kind 3 (a new, unedited command) and
// kinds above 12 send nothing. Errors are swallowed.
void SendCommand(uint8_t subnet, uint8_t device, uint8_t commandTypeID, uint16_t first,
                 uint16_t second, uint16_t third);

// The pause that follows a command.
int CommandPauseMS(int32_t delayMS);

// Sends the commands in the given order (callers pass them in SequenceNo
// order), each followed by its pause, blocking the calling thread throughout.
// A kind that sends nothing still takes its pause. With stopWhenAppClosing the
// rest of the list is skipped once AppClosing is set after a pause. An error
// ends the run quietly; what was sent stays sent.
void RunCommandList(const std::vector<TControlObject>& commands, bool stopWhenAppClosing);
