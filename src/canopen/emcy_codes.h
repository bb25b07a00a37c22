// The texts of the CANopen emergency error codes, as the frame explanation shows them.
#pragma once

#include <cstdint>
#include <string_view>

namespace busprobe {

// The text of the exact code, else of its group (the code with the low byte cleared); empty when
// neither is known.
std::string_view EmcyCodeText(uint16_t code);

}  // namespace busprobe
