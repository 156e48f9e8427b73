// Byte buffers and the two text renderings the virtual reader deals in:
// hexadecimal (control interface, traffic log) and the device's nibble
// characters (on the serial line).  Both are the project's one wire
// vocabulary; the virtual reader names them in its own namespace.
#pragma once

#include "wire/bytes.h"
#include "wire/nibble.h"

namespace kpsim {

using kp::wire::AppendNibbles;
using kp::wire::AppendNibbles16;
using kp::wire::Bytes;
using kp::wire::FromHex;
using kp::wire::IsNibbleChar;
using kp::wire::NibbleChar;
using kp::wire::ToHex;

}  // namespace kpsim
