// Device-level framed commands: line speed, firmware version, soft reset of
// the card module, the buzzer and 0xC003.
//
// Which family knows which command:
//   0x3001 set speed (data 01, code)     t1, t61
//   0x3003 set speed (data code)         t0
//   0x3111 version                       t1, t0
//   0x3112 soft reset (data 00 or 01)    t61
//   0xC003                               all
//   0x3116 / 0x3117 buzzer off / on      all, never answered
// A new speed takes effect once the answer announcing it is on the line.

#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

Reply SwitchSpeed(VirtualReader& reader, int code) {
  const int baud = BaudForCode(code);
  if (baud == 0) return Reply::Status(kStatusBadParameter);
  Reply reply = Reply::Ok();
  reply.after_send = [&reader, baud] { reader.state().baud = baud; };
  return reply;
}

}  // namespace

void InstallDeviceCommands(VirtualReader& reader) {
  CommandRegistry& commands = reader.commands();
  commands.Register({0x3001, "set speed", kFamilyT1 | kFamilyT61, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != 2 || data[0] != 0x01) return Reply::Status(kStatusBadParameter);
                       return SwitchSpeed(r, data[1]);
                     }});
  commands.Register({0x3003, "set speed", kFamilyT0, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != 1) return Reply::Status(kStatusBadParameter);
                       return SwitchSpeed(r, data[0]);
                     }});
  commands.Register({0x3111, "version", kFamilyT1 | kFamilyT0, true,
                     [](VirtualReader& r, const Bytes&) { return Reply::Ok(r.state().version); }});
  commands.Register({0x3112, "soft reset", kFamilyT61, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != 1 || data[0] > 1) return Reply::Status(kStatusBadParameter);
                       ++r.state().counters.soft_resets;
                       r.seats().ResetAll();
                       return Reply::Ok();
                     }});
  commands.Register({0xC003, "c003", kAllFamilies, true, [](VirtualReader& r, const Bytes&) {
                       ++r.state().counters.c003;
                       return Reply::Ok();
                     }});
  commands.Register({0x3116, "buzzer off", kAllFamilies, false, [](VirtualReader& r, const Bytes&) {
                       r.state().buzzer = false;
                       return Reply::Ok();
                     }});
  commands.Register({0x3117, "buzzer on", kAllFamilies, false, [](VirtualReader& r, const Bytes&) {
                       r.state().buzzer = true;
                       ++r.state().counters.beeps;
                       return Reply::Ok();
                     }});
}

}  // namespace kpsim
