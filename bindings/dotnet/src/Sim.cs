using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Net.Sockets;
using System.Runtime.InteropServices;
using System.Text;

// The virtual reader (kpdev-sim): start it, drive it over its control port,
// stop it. The same client as the Python package's kpdev.sim.
namespace Kpdev.Sim
{
    /// <summary>The process, the connection or a reply is not what it must be.</summary>
    public class SimException : Exception
    {
        public SimException(string message)
            : base(message)
        {
        }
    }

    /// <summary>A kpdev-sim process, started and waited for until it says "ready".</summary>
    public sealed class SimProcess : IDisposable
    {
        readonly Process process;

        public SimProcess(string executable, IEnumerable<string> args, TimeSpan timeout)
        {
            var words = new List<string>(args);
            // Programs that drive the reader want its behaviour, not its real
            // time, unless they ask for pacing themselves.
            if (!words.Contains("--pacing"))
                words.InsertRange(0, new[] { "--pacing", "off" });
            var start = new ProcessStartInfo(executable, Quote(words))
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
            };
            try
            {
                process = Process.Start(start);
            }
            catch (Exception e)
            {
                throw new SimException(executable + " did not start: " + e.Message);
            }
            try
            {
                ReadStartup(executable, timeout);
            }
            catch
            {
                Terminate(TimeSpan.FromSeconds(2));
                throw;
            }
        }

        static string Quote(IEnumerable<string> words)
        {
            var line = new StringBuilder();
            foreach (string word in words)
                line.Append(line.Length > 0 ? " " : "").Append('"').Append(word.Replace("\"", "\\\"")).Append('"');
            return line.ToString();
        }

        void ReadStartup(string executable, TimeSpan timeout)
        {
            DateTime deadline = DateTime.UtcNow + timeout;
            while (true)
            {
                var line = process.StandardOutput.ReadLineAsync();
                TimeSpan left = deadline - DateTime.UtcNow;
                if (left < TimeSpan.Zero || !line.Wait(left))
                    throw new SimException("no 'ready' from " + executable + " in time");
                if (line.Result == null)
                    throw new SimException(executable + " ended before 'ready'");
                if (line.Result.StartsWith("port "))
                    PortPath = line.Result.Substring(5);
                else if (line.Result.StartsWith("control "))
                    ControlPort = int.Parse(line.Result.Substring(8));
                else if (line.Result == "ready")
                {
                    if (PortPath == null || ControlPort == 0)
                        throw new SimException(executable + " said ready without port and control");
                    return;
                }
            }
        }

        /// <summary>The pseudo-terminal the library opens as the reader's port.</summary>
        public string PortPath { get; private set; }
        /// <summary>The TCP port of the control interface on 127.0.0.1.</summary>
        public int ControlPort { get; private set; }

        /// <summary>A new connection to the control interface.</summary>
        public Control Control(TimeSpan timeout)
        {
            return new Control(ControlPort, timeout);
        }

        /// <summary>Asks the process to quit (it then removes what it made), kills it
        /// when it has not ended after <paramref name="timeout"/>; its exit code.</summary>
        public int Terminate(TimeSpan timeout)
        {
            if (!process.HasExited && ControlPort != 0)
            {
                try
                {
                    using (var control = new Control(ControlPort, timeout))
                        control.Request("quit");
                }
                catch (SimException)
                {
                    // not listening any more: the kill below ends it
                }
            }
            if (!process.WaitForExit((int)timeout.TotalMilliseconds))
            {
                try
                {
                    process.Kill();
                }
                catch (InvalidOperationException)
                {
                    // ended meanwhile
                }
                process.WaitForExit();
            }
            return process.ExitCode;
        }

        public void Dispose()
        {
            Terminate(TimeSpan.FromSeconds(5));
            process.Dispose();
        }
    }

    /// <summary>The key=value words of a status reply.</summary>
    public sealed class Status : Dictionary<string, string>
    {
        public long Number(string key)
        {
            string value;
            if (!TryGetValue(key, out value))
                throw new SimException("status has no '" + key + "'");
            long number;
            if (!long.TryParse(value, out number))
                throw new SimException("status " + key + "=" + value + " is not a number");
            return number;
        }
    }

    /// <summary>The traffic log: ordered (tag, bytes) runs and the bytes per
    /// direction.</summary>
    public sealed class Traffic
    {
        public Traffic(string reply)
        {
            string[] words = reply.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries);
            if (words.Length % 2 != 0)
                throw new SimException("traffic reply has an odd number of words");
            Segments = new List<KeyValuePair<string, byte[]>>();
            var collected = new Dictionary<string, MemoryStream>
            {
                { "H>D", new MemoryStream() }, { "D>H", new MemoryStream() }, { "H~D", new MemoryStream() },
                { "D~H", new MemoryStream() },
            };
            for (int i = 0; i < words.Length; i += 2)
            {
                if (!collected.ContainsKey(words[i]))
                    throw new SimException("unknown traffic tag '" + words[i] + "'");
                byte[] data = FromHex(words[i + 1]);
                Segments.Add(new KeyValuePair<string, byte[]>(words[i], data));
                collected[words[i]].Write(data, 0, data.Length);
            }
            HostToDevice = collected["H>D"].ToArray();
            DeviceToHost = collected["D>H"].ToArray();
            HostNoise = collected["H~D"].ToArray();
            DeviceLost = collected["D~H"].ToArray();
        }

        static byte[] FromHex(string text)
        {
            if (text.Length % 2 != 0)
                throw new SimException("odd-length hex in traffic reply");
            var data = new byte[text.Length / 2];
            for (int i = 0; i < data.Length; i++)
                data[i] = Convert.ToByte(text.Substring(2 * i, 2), 16);
            return data;
        }

        public List<KeyValuePair<string, byte[]>> Segments { get; private set; }
        public byte[] HostToDevice { get; private set; }
        public byte[] DeviceToHost { get; private set; }
        public byte[] HostNoise { get; private set; }
        public byte[] DeviceLost { get; private set; }
    }

    /// <summary>One connection to the control interface: one text line per request,
    /// answered by "ok ..." or "err reason".</summary>
    public sealed class Control : IDisposable
    {
        readonly TcpClient client;
        readonly StreamReader reader;
        readonly Stream stream;

        public Control(int port, TimeSpan timeout)
        {
            try
            {
                client = new TcpClient();
                client.NoDelay = true;
                if (!client.ConnectAsync("127.0.0.1", port).Wait(timeout))
                    throw new SimException("control port " + port + ": no connection in time");
            }
            catch (Exception e) when (!(e is SimException))
            {
                throw new SimException("control port " + port + ": " + e.Message);
            }
            client.ReceiveTimeout = client.SendTimeout = (int)timeout.TotalMilliseconds;
            stream = client.GetStream();
            reader = new StreamReader(stream, Encoding.UTF8);
        }

        /// <summary>Sends one request line; returns the reply line.</summary>
        public string Request(string line)
        {
            byte[] request = Encoding.UTF8.GetBytes(line + "\n");
            try
            {
                stream.Write(request, 0, request.Length);
                string reply = reader.ReadLine();
                if (reply == null)
                    throw new SimException("control connection closed during '" + line + "'");
                return reply;
            }
            catch (IOException e)
            {
                throw new SimException("no reply to '" + line + "': " + e.Message);
            }
        }

        /// <summary>As Request, but throws unless the reply is ok; returns the text after
        /// "ok ".</summary>
        public string Ok(string line)
        {
            string reply = Request(line);
            if (reply == "ok")
                return "";
            if (reply.StartsWith("ok "))
                return reply.Substring(3);
            throw new SimException("'" + line + "' -> " + reply);
        }

        public Status Status()
        {
            var status = new Status();
            foreach (string word in Ok("status").Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries))
            {
                int equals = word.IndexOf('=');
                if (equals < 0)
                    throw new SimException("bad status word '" + word + "'");
                status[word.Substring(0, equals)] = word.Substring(equals + 1);
            }
            return status;
        }

        public Traffic Traffic()
        {
            return new Traffic(Ok("traffic"));
        }

        public void Clear()
        {
            Ok("clear");
        }

        /// <summary>Arms a fault, e.g. Fault("nonstx"), Fault("delay 900 2").</summary>
        public void Fault(string words)
        {
            Ok("fault " + words);
        }

        /// <summary>Puts a card in a seat, e.g. Insert(0, "sle4442"), Insert(255, "sector",
        /// "keya=A0A1A2A3A4A5").</summary>
        public void Insert(int seat, string kind, params string[] args)
        {
            Ok("insert " + seat + " " + kind + (args.Length > 0 ? " " + string.Join(" ", args) : ""));
        }

        public void Remove(int seat)
        {
            Ok("remove " + seat);
        }

        /// <summary>A magnetic card passes the head; tracks as the control verb takes them
        /// ("-" for none).</summary>
        public string Swipe(params string[] tracks)
        {
            return Ok(tracks.Length > 0 ? "swipe " + string.Join(" ", tracks) : "swipe");
        }

        public void Dispose()
        {
            client.Close();
        }
    }

    /// <summary>A kpdev-sim process serving as COM port <see cref="Port"/> for the library
    /// (POSIX: the environment variable KPDEV_COM&lt;port&gt; names its pseudo-terminal
    /// until <see cref="Dispose"/> restores it).</summary>
    public sealed class VirtualReader : IDisposable
    {
        readonly string variable;
        readonly string saved;

        public VirtualReader(string family = "t1", int port = 1, IEnumerable<string> args = null,
                             string executable = null)
        {
            if (port < 1 || port > 32)
                throw new ArgumentOutOfRangeException("port", port, "a COM port number runs from 1 to 32");
            if (Environment.OSVersion.Platform == PlatformID.Win32NT)
                throw new PlatformNotSupportedException(
                    "on Windows, start kpdev-sim with --link to the COM port's device instead");
            Port = port;
            variable = "KPDEV_COM" + port;
            saved = Environment.GetEnvironmentVariable(variable);
            var words = new List<string> { "--family", family };
            if (args != null)
                words.AddRange(args);
            Process = new SimProcess(executable ?? FindExecutable(), words, TimeSpan.FromSeconds(10));
            try
            {
                Control = Process.Control(TimeSpan.FromSeconds(5));
            }
            catch
            {
                Process.Dispose();
                throw;
            }
            SetVariable(variable, Process.PortPath);
        }

        public int Port { get; private set; }
        public SimProcess Process { get; private set; }
        public Control Control { get; private set; }

        public string PortPath
        {
            get { return Process.PortPath; }
        }

        public void Insert(int seat, string kind, params string[] args)
        {
            Control.Insert(seat, kind, args);
        }

        public void Remove(int seat)
        {
            Control.Remove(seat);
        }

        public string Swipe(params string[] tracks)
        {
            return Control.Swipe(tracks);
        }

        public void Fault(string words)
        {
            Control.Fault(words);
        }

        public Traffic Traffic()
        {
            return Control.Traffic();
        }

        public void Clear()
        {
            Control.Clear();
        }

        public Status Status()
        {
            return Control.Status();
        }

        /// <summary>Ends the process and restores KPDEV_COM&lt;port&gt;.</summary>
        public void Dispose()
        {
            SetVariable(variable, saved);
            Control.Dispose();
            Process.Dispose();
        }

        /// <summary>kpdev-sim: $KPDEV_SIM, beside an installed assembly, then the
        /// PATH.</summary>
        public static string FindExecutable()
        {
            string own = Environment.GetEnvironmentVariable("KPDEV_SIM");
            if (!string.IsNullOrEmpty(own))
                return own;
            string beside = Installed.Beside(Installed.SimFromAssembly);
            if (beside != null)
                return beside;
            foreach (string dir in (Environment.GetEnvironmentVariable("PATH") ?? "").Split(Path.PathSeparator))
            {
                string candidate = Path.Combine(dir, "kpdev-sim");
                if (dir.Length > 0 && File.Exists(candidate))
                    return candidate;
            }
            throw new SimException("kpdev-sim not found (set KPDEV_SIM)");
        }

        // The library reads the process's own environment: .NET keeps a
        // managed copy of its own on POSIX, so both are set.
        static void SetVariable(string name, string value)
        {
            Environment.SetEnvironmentVariable(name, value);
            if (value == null)
                unsetenv(name);
            else
                setenv(name, value, 1);
        }

        [DllImport("libc")]
        static extern int setenv(string name, string value, int overwrite);

        [DllImport("libc")]
        static extern int unsetenv(string name);
    }
}
