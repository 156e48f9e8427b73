using System;
using System.Reflection;
using System.Text;

namespace Kpdev
{
    // The library's hexadecimal text: upper-case, two digits per byte.
    internal static class Hex
    {
        const string Digits = "0123456789ABCDEF";

        public static bool IsUpper(string text)
        {
            foreach (char c in text)
                if (Digits.IndexOf(c) < 0)
                    return false;
            return true;
        }

        public static string Of(byte[] data)
        {
            var text = new StringBuilder(2 * data.Length);
            foreach (byte b in data)
                text.Append(Digits[b >> 4]).Append(Digits[b & 15]);
            return text.ToString();
        }

        // The NUL-terminated hex text in an output buffer, as bytes.
        public static byte[] Parse(string function, byte[] buffer)
        {
            string text = Texts.Ascii(buffer);
            if (text.Length % 2 != 0 || !IsUpper(text))
                throw new FormatException(function + ": the library's output is not hexadecimal text: " + text);
            var data = new byte[text.Length / 2];
            for (int i = 0; i < data.Length; i++)
                data[i] = (byte)(Digits.IndexOf(text[2 * i]) << 4 | Digits.IndexOf(text[2 * i + 1]));
            return data;
        }
    }

    // The encodings of the library's texts: GBK (code page 936) for the
    // identity texts and the version text, ASCII elsewhere. Bytes above 7F
    // in an ASCII text (a track as the card holds it) are kept one for one,
    // as Latin-1.
    internal static class Texts
    {
        static Encoding gbk;

        public static Encoding Gbk
        {
            get
            {
                if (gbk == null)
                    gbk = LoadGbk();
                return gbk;
            }
        }

        static Encoding LoadGbk()
        {
            // .NET (Core) knows code page 936 only once the code-pages provider
            // is registered; Mono and the .NET Framework know it already. Both
            // calls go by reflection, since neither exists in every runtime.
            Type provider = Type.GetType("System.Text.CodePagesEncodingProvider, System.Text.Encoding.CodePages");
            MethodInfo register = typeof(Encoding).GetMethod("RegisterProvider");
            if (provider != null && register != null)
            {
                object instance = provider.GetProperty("Instance").GetValue(null, null);
                register.Invoke(null, new[] { instance });
            }
            try
            {
                return Encoding.GetEncoding(936);
            }
            catch (Exception e)
            {
                throw new NotSupportedException(
                    "code page 936 (GBK) is not available: on Mono install libmono-i18n-cjk4.0-cil, on .NET add " +
                    "the System.Text.Encoding.CodePages package", e);
            }
        }

        public static readonly Encoding Latin1 = Encoding.GetEncoding(28591);

        static int End(byte[] buffer)
        {
            int end = Array.IndexOf(buffer, (byte)0);
            return end < 0 ? buffer.Length : end;
        }

        public static string Ascii(byte[] buffer)
        {
            return Latin1.GetString(buffer, 0, End(buffer));
        }

        public static string GbkText(byte[] buffer)
        {
            return Gbk.GetString(buffer, 0, End(buffer));
        }

        // A file path the library made: in the ANSI code page (GBK) on
        // Windows, as the file system holds it (UTF-8) elsewhere.
        public static string Path(byte[] buffer)
        {
            Encoding encoding = Environment.OSVersion.Platform == PlatformID.Win32NT ? Gbk : Encoding.UTF8;
            return encoding.GetString(buffer, 0, End(buffer));
        }

        public static byte[] Terminated(string ascii)
        {
            return Latin1.GetBytes(ascii + "\0");
        }
    }
}
