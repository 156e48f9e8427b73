// Starts a virtual reader on COM1, prints the library's and the reader's
// version, powers the contact card on and selects the payment directory.
//   mcs -pkg:kpdev-sharp Version.cs && MONO_PATH=<prefix>/lib/cli/kpdev mono Version.exe
using System;
using System.Linq;
using System.Text;
using Kpdev;
using Kpdev.Sim;

static class Version
{
    static string Hex(byte[] data)
    {
        return BitConverter.ToString(data).Replace("-", "");
    }

    static void Main()
    {
        using (var sim = new VirtualReader("t1", 1))
        {
            sim.Insert(0, "bank", "profile=pboc-debit-two-sfi");
            using (var reader = new Reader(1, deviceType: 1))
            {
                Console.WriteLine("library  " + KpDev.LibraryVersion);
                Console.WriteLine("version  " + Encoding.ASCII.GetString(reader.DeviceVersion()));
                Console.WriteLine("atr      " + Hex(reader.PowerOn()));
                byte[] select = new byte[] { 0x00, 0xA4, 0x04, 0x00, 0x0E }
                    .Concat(Encoding.ASCII.GetBytes("1PAY.SYS.DDF01")).ToArray();
                byte[] answer = reader.Apdu(select, chained: true);
                Console.WriteLine("select   " + Hex(answer.Skip(answer.Length - 2).ToArray()));
                Console.WriteLine("track2   " + reader.Track2());
            }
        }
    }
}
