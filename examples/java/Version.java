// Starts a virtual reader on COM1, prints the library's and the reader's
// version, powers the contact card on and selects the payment directory.
//   java -cp <prefix>/share/java/kpdev.jar Version.java
import java.nio.charset.StandardCharsets;
import kpdev.KpDev;
import kpdev.Reader;
import kpdev.sim.VirtualReader;

public class Version {
    static String hex(byte[] data, int from) {
        StringBuilder text = new StringBuilder();
        for (int i = from; i < data.length; i++) {
            text.append(String.format("%02X", data[i]));
        }
        return text.toString();
    }

    public static void main(String[] args) {
        try (VirtualReader sim = new VirtualReader("t1", 1)) {
            sim.insert(0, "bank", "profile=pboc-debit-two-sfi");
            try (Reader reader = new Reader(1, 1, 9600)) {
                System.out.println("library  " + KpDev.libraryVersion());
                System.out.println("version  " + new String(reader.deviceVersion(), StandardCharsets.US_ASCII));
                System.out.println("atr      " + hex(reader.powerOn(), 0));
                byte[] name = "1PAY.SYS.DDF01".getBytes(StandardCharsets.US_ASCII);
                byte[] select = new byte[5 + name.length];
                System.arraycopy(new byte[] {0x00, (byte) 0xA4, 0x04, 0x00, (byte) name.length}, 0, select, 0, 5);
                System.arraycopy(name, 0, select, 5, name.length);
                byte[] answer = reader.apdu(select, 0, true);
                System.out.println("select   " + hex(answer, answer.length - 2));
                System.out.println("track2   " + reader.track2(0));
            }
        }
    }
}
