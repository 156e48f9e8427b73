using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;
using System.Threading.Tasks;

namespace Kpdev
{
    public static partial class Native
    {
        internal const string LibraryName = "KP_DEV";

        // Runs before the first declaration is called (on Mono, too late:
        // see KpDev.Load).
        static Native()
        {
            Loader.Prepare();
        }
    }

    // Finds the library. The declarations name "KP_DEV": KP_DEV.dll on
    // Windows; on Linux Mono maps the name to libKP_DEV.so.2
    // (Kpdev.dll.config), and on .NET a resolver registered here does. A
    // library in a place of its own ($KPDEV_LIBRARY, or beside an installed
    // assembly) is loaded first: .NET's resolver returns it, and elsewhere
    // it is loaded by its path before the first call, so that the loader
    // hands it out when the runtime asks for it by name (the dynamic linker
    // knows it by its SONAME, Windows by its file name).
    internal static class Loader
    {
        const string LinuxName = "libKP_DEV.so.2";
        static readonly object once = new object();
        static bool prepared;

        static bool Windows
        {
            get { return Environment.OSVersion.Platform == PlatformID.Win32NT; }
        }

        public static string OwnPath()
        {
            string given = Environment.GetEnvironmentVariable("KPDEV_LIBRARY");
            if (!string.IsNullOrEmpty(given))
            {
                if (!File.Exists(given))
                    throw new DllNotFoundException("KPDEV_LIBRARY names " + given + ", which does not exist");
                return Path.GetFullPath(given);
            }
            return Installed.Beside(Installed.LibraryFromAssembly);
        }

        public static void Prepare()
        {
            lock (once)
            {
                if (!prepared)
                    PrepareOnce();
                prepared = true;
            }
        }

        static void PrepareOnce()
        {
            string own = OwnPath();
            if (RegisterResolver(own))
                return;
            if (own == null)
                return;
            bool loaded = Windows ? LoadLibraryW(own) != IntPtr.Zero : dlopen(own, RtldNow | RtldGlobal) != IntPtr.Zero;
            if (!loaded)
                throw new DllNotFoundException("the KP_DEV library " + own + " could not be loaded" +
                                               (Windows ? "" : ": " + Marshal.PtrToStringAnsi(dlerror())));
        }

        // System.Runtime.InteropServices.NativeLibrary (.NET Core 3 and
        // later), reached by reflection: Mono and the .NET Framework do not
        // have it.
        static bool RegisterResolver(string own)
        {
            Type library = Type.GetType("System.Runtime.InteropServices.NativeLibrary");
            Type resolver = Type.GetType("System.Runtime.InteropServices.DllImportResolver");
            if (library == null || resolver == null)
                return false;
            ownPath = own;
            MethodInfo register = library.GetMethod("SetDllImportResolver");
            Delegate callback = Delegate.CreateDelegate(resolver, typeof(Loader).GetMethod(
                "Resolve", BindingFlags.NonPublic | BindingFlags.Static));
            register.Invoke(null, new object[] { typeof(Loader).Assembly, callback });
            nativeLoad = library.GetMethod("Load", new[] { typeof(string) });
            return true;
        }

        static string ownPath;
        static MethodInfo nativeLoad;

        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
        {
            if (name != Native.LibraryName)
                return IntPtr.Zero;
            string path = ownPath ?? (Windows ? null : LinuxName);
            if (path == null)
                return IntPtr.Zero;
            try
            {
                return (IntPtr)nativeLoad.Invoke(null, new object[] { path });
            }
            catch (TargetInvocationException e)
            {
                throw e.InnerException;
            }
        }

        const int RtldNow = 2;
        const int RtldGlobal = 0x100;

        [DllImport("libdl.so.2")]
        static extern IntPtr dlopen(string path, int flags);

        [DllImport("libdl.so.2")]
        static extern IntPtr dlerror();

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);
    }

    internal static partial class Installed
    {
        // A path relative to this assembly's directory, or null when it does
        // not exist (the assembly is not where it was installed).
        public static string Beside(string relative)
        {
            string here = Path.GetDirectoryName(typeof(Installed).Assembly.Location);
            if (string.IsNullOrEmpty(here) || string.IsNullOrEmpty(relative))
                return null;
            string path = Path.GetFullPath(Path.Combine(here, relative));
            return File.Exists(path) ? path : null;
        }
    }

    // The COM ports this process has open through the binding, and who holds
    // each. The library's handle is the port number itself: a second open
    // of a port hands out the same handle, and closing either closes both,
    // after which the other's calls would return 0 and write nothing. The
    // read-any-card loop closes whatever is open on its port. So a port has
    // one holder at a time.
    internal static class Ports
    {
        static readonly Dictionary<int, string> holders = new Dictionary<int, string>();

        public static void Claim(int port, string holder)
        {
            lock (holders)
            {
                string current;
                if (holders.TryGetValue(port, out current))
                    throw new InvalidOperationException(string.Format("COM{0} is in use in this process by {1}", port,
                                                                      current));
                holders.Add(port, holder);
            }
        }

        public static void Release(int port)
        {
            lock (holders)
                holders.Remove(port);
        }

        public static void CheckNumber(int port)
        {
            if (port < 1 || port > 32)
                throw new ArgumentOutOfRangeException("port", port, "a COM port number runs from 1 to 32");
        }
    }

    /// <summary>What concerns the library as a whole: its version and the read-any-card
    /// loop.</summary>
    public static class KpDev
    {
        /// <summary>Finds and loads the library, once; every <see cref="Reader"/> and
        /// member of this class does it first.</summary>
        /// <remarks>A program that calls <see cref="Exports"/> or <see cref="Native"/> before
        /// anything else, and takes the library from $KPDEV_LIBRARY or from beside an
        /// installed assembly, calls this first: Mono binds a declaration when it compiles
        /// the method that calls it, before that method could load the library.</remarks>
        public static void Load()
        {
            Loader.Prepare();
        }

        /// <summary>The library's version number, e.g. "2.0.0.2".</summary>
        public static string LibraryVersion
        {
            get { return LibraryVersionText.Split(' ')[0]; }
        }

        /// <summary>The library's whole version text (GBK, decoded), e.g. "2.0.0.2
        /// 最后修改日期：2015-05-03".</summary>
        public static string LibraryVersionText
        {
            get
            {
                Load();
                return VersionText();
            }
        }

        // Compiled only once Load has run.
        [MethodImpl(MethodImplOptions.NoInlining)]
        static string VersionText()
        {
            var text = new byte[33];
            KpDevException.Check("KP_DEV_GetDllVersion", Exports.KP_DEV_GetDllVersion(text));
            return Texts.GbkText(text);
        }

        /// <summary>Opens the reader on COM <paramref name="port"/> itself (type 61 at
        /// 115200 baud) and waits for a card of any kind: an identity card (when the
        /// identity-card library is installed), a magnetic card, then the chip cards
        /// <paramref name="options"/> enables.</summary>
        /// <remarks>The task ends with the card read; with a <see cref="TimeoutException"/>
        /// when <see cref="ReadAnyCardOptions.Timeout"/> passes without a card; as
        /// cancelled once <paramref name="cancellation"/> is cancelled and the loop has
        /// stopped (the library's KP_DEV_CancelReadAll ends it after the pass in progress);
        /// with a <see cref="KpDevException"/> when the port does not open. One loop runs
        /// at a time in a process (the library's cancel reaches every loop): a second call
        /// waits for the first to end. The port must not be open through a
        /// <see cref="Reader"/> of this process (InvalidOperationException).</remarks>
        public static Task<CardRead> ReadAnyCardAsync(int port, ReadAnyCardOptions options = null,
                                                      CancellationToken cancellation = default(CancellationToken))
        {
            Load();
            return new ReadAnyCardRun(port, options ?? new ReadAnyCardOptions(), cancellation).Start();
        }
    }
}
