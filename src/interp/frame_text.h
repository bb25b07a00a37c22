// The text form of a CAN frame to send: a script line beginning with a digit, "(", "#" or "$", and
// the argument of `ctx`.
//
//   [#b ] id[suffix] [r[len]] [[len]] data...
//
// It reads back what the receive display writes (bus number, identifier with ".x"/".s" mark,
// "[08]" length column, "r XX XX" remote frames), and every number may also be an expression.
//
// Bus        "#1 " .. "#4 " in front of the frame: "#", one digit 1..4 and a blank. Without it the
//            frame goes to bus 1. "#" followed by more digits is a decimal identifier instead
//            ("#291" is 0x123), so an identifier 1..4 written in decimal needs the bus prefix
//            ("#1 #2 11" is identifier 2 on bus 1).
// Identifier hexadecimal by default: "123", "$7FF", "0x7FF"; "#291" decimal; "(0x180 + Node)"
//            evaluates an expression in parentheses (variables allowed). Floats are truncated.
//            Allowed range 0..1FFFFFFF.
// Suffix     written directly behind the identifier: "x" or ".x" extended, "s" or ".s" standard;
//            the upper-case forms "X", ".X", "S", ".S" also make it a CAN FD frame (with bit rate
//            switch). Without a suffix an identifier above 7FF is extended. A standard identifier
//            above 7FF is refused.
// Remote     "r", optionally followed by the decimal length ("r2", "r 2"); the receive display's
//            placeholders "XX" behind it count as the length too. A remote frame carries no data
//            and is never a CAN FD frame.
// Length     "[len]" in decimal, e.g. "[08]", before or after "r". Data bytes beyond it are
//            refused; missing ones are sent as 0. Without it the length is the number of bytes
//            given; a CAN FD frame is then padded with 0 up to the next valid FD length
//            (10 bytes go out as 12). An explicit FD length is rounded up the same way ("[10]"
//            sends 12 bytes); data bytes beyond the length written are still refused.
// Data       hexadecimal bytes separated by blanks ("11 22 AB"); "#10" decimal, "%1010" binary;
//            a suffix gives a wider value: ".w"/".i"/".iw" 16 bit and ".l"/".il" 32 bit little
//            endian, ".mw"/".ml" big endian, ".if"/".mf" an IEEE single; "text" in double quotes
//            gives its characters. Classic frames take up to 8 bytes, CAN FD frames up to 64.
// End        the end of the line, ";" or "//" (a comment). Anything else left over is a syntax
//            error.
//
// Examples: "123 11 22", "#2 18FF0001 01 02 03", "7E0.s [08] 02 10 03", "123r2", "123 r XX XX",
// "(0x600 + Node) 40 1018.w 01 00 00 00 00", "456.X 00 01 02 03 04 05 06 07 08 09" (12-byte FD).
#pragma once

#include "can/can_frame.h"
#include "interp/expression.h"

namespace busprobe {

// Reads one frame at the cursor into `out` (timestamp 0, unused data bytes 0). Returns 0 or an
// error code (also kept in cursor.error): -9 for an identifier, length or byte count out of range,
// -1 for leftover text, or the code of a failed expression.
int ParseFrameText(ExpressionEvaluator& eval, ScriptCursor& cursor, CanFrame& out);

}  // namespace busprobe
