using System;

namespace Kpdev
{
    /// <summary>A library function returned a failure: its result <see cref="Code"/>, the
    /// code's <see cref="Name"/> and <see cref="Text"/> from kp_dev.h, and the
    /// <see cref="Function"/> that returned it.</summary>
    public class KpDevException : Exception
    {
        public KpDevException(string function, int code)
            : base(string.Format("{0}: {1} {2} ({3})", function, code, Results.Name(code) ?? "(no name)",
                                 Results.Text(code)))
        {
            Function = function;
            Code = code;
        }

        /// <summary>The library's result, e.g. -312.</summary>
        public int Code { get; private set; }

        /// <summary>The result's name, e.g. "KP_DEV_ERR_WRONG_KEY"; null for a code kp_dev.h
        /// does not name.</summary>
        public string Name
        {
            get { return Results.Name(Code); }
        }

        /// <summary>The result's English text, e.g. "wrong key or password (device status
        /// 3005)".</summary>
        public string Text
        {
            get { return Results.Text(Code); }
        }

        /// <summary>The exported function that returned the result.</summary>
        public string Function { get; private set; }

        /// <summary>Throws unless <paramref name="result"/> is 0.</summary>
        public static void Check(string function, int result)
        {
            if (result != Results.KP_DEV_OK)
                throw new KpDevException(function, result);
        }
    }
}
