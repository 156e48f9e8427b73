using System;
using System.Runtime.InteropServices;

namespace Kpdev
{
    // The argument checks of Exports (Exports.g.cs): what C would read past
    // or write past is refused here, before the library is called.
    internal static class Check
    {
        static string Where(string function, string argument)
        {
            return function + ": " + argument;
        }

        public static void NotNull(string function, string argument, object value)
        {
            if (value == null)
                throw new ArgumentNullException(argument, Where(function, argument) + " must not be null");
        }

        // A text the library reads to its NUL: without one it would read on
        // past the array.
        public static void Text(string function, string argument, byte[] value)
        {
            NotNull(function, argument, value);
            if (Array.IndexOf(value, (byte)0) < 0)
                throw new ArgumentException(Where(function, argument) + " must end with a NUL byte", argument);
        }

        // An output the library appends to: the text it holds counts.
        public static void Terminated(string function, string argument, byte[] value)
        {
            NotNull(function, argument, value);
            if (Array.IndexOf(value, (byte)0) < 0)
                throw new ArgumentException(Where(function, argument) +
                                            " must hold a NUL-terminated text (the read appends to it)", argument);
        }

        public static void Hex(string function, string argument, string value)
        {
            NotNull(function, argument, value);
            if (value.Length % 2 != 0 || !Kpdev.Hex.IsUpper(value))
                throw new ArgumentException(
                    Where(function, argument) + " must be upper-case hexadecimal text of even length", argument);
        }

        public static void NotNegative(string function, string argument, long value)
        {
            if (value < 0)
                throw new ArgumentOutOfRangeException(argument, value, Where(function, argument) + " must not be negative");
        }

        public static long Length(byte[] text)
        {
            int end = Array.IndexOf(text, (byte)0);
            return end < 0 ? text.Length : end;
        }

        public static long Length(string text)
        {
            return text.Length;
        }

        public static void Room(string function, string argument, byte[] buffer, long room)
        {
            if (buffer.Length < room)
                throw new ArgumentException(string.Format("{0} needs {1} bytes of room, not {2}",
                                                          Where(function, argument), room, buffer.Length), argument);
        }

        public const int IdentityFields = 9;

        public static void Fields(string function, string argument, byte[][] fields, long room)
        {
            if (fields.Length != IdentityFields)
                throw new ArgumentException(string.Format("{0} needs {1} buffers, not {2}", Where(function, argument),
                                                          IdentityFields, fields.Length), argument);
            for (int i = 0; i < fields.Length; i++)
            {
                NotNull(function, argument + "[" + i + "]", fields[i]);
                Room(function, argument + "[" + i + "]", fields[i], room);
            }
        }

        // Nine outputs behind a char**: each array is lent to the library as
        // a block of unmanaged memory of its own size and copied back after.
        public static int WithFields(byte[][] fields, Func<IntPtr[], int> call)
        {
            var pointers = new IntPtr[fields.Length];
            try
            {
                for (int i = 0; i < fields.Length; i++)
                {
                    pointers[i] = Marshal.AllocHGlobal(fields[i].Length);
                    Marshal.Copy(fields[i], 0, pointers[i], fields[i].Length);
                }
                int result = call(pointers);
                for (int i = 0; i < fields.Length; i++)
                    Marshal.Copy(pointers[i], fields[i], 0, fields[i].Length);
                return result;
            }
            finally
            {
                foreach (IntPtr pointer in pointers)
                    if (pointer != IntPtr.Zero)
                        Marshal.FreeHGlobal(pointer);
            }
        }
    }
}
