// P/Invoke declarations of the doorlink exports, one for each function of
// include/doorlink/doorlink.h, in the header's order.
//
// The library is "doorlink": doorlink.dll on Windows (32-bit, __stdcall
// exports), libdoorlink.so elsewhere (found through the loader's search path,
// e.g. LD_LIBRARY_PATH). Results are 1 for success and 0 for failure unless a
// comment says otherwise. Text outputs go into a StringBuilder whose capacity
// is at least the size given; the library writes at most that many bytes,
// terminator included.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Doorlink
{
    /// <summary>The 48 exports of the doorlink library: the 46, DoorSetTimeTo, which sets a
    /// controller's clock to a given local time, and SetAdaptiveWait, which switches on the
    /// adaptive wait for lossy links.</summary>
    public static class NativeMethods
    {
        /// <summary>The library name the runtime resolves to doorlink.dll or libdoorlink.so.</summary>
        public const string Library = "doorlink";

        // ---- Library set-up ----

        /// <summary>Binds every later socket within start..end (each 0..65535).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint SetPortRange(int start, int end);

        /// <summary>Switches the adaptive wait on for the controller at address (null: every
        /// controller): queries and read-back requests go again after a timeout measured from
        /// round trips, at least minimumMs (1..2000), not after 2 seconds; 0 switches it off.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint SetAdaptiveWait(string address, int minimumMs);

        // ---- Controller clock ----

        /// <summary>Sets the controller's clock to this host's local time.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorSetTime(string address, string macText);

        /// <summary>Sets the controller's clock to localTime, "yyyymmddhhmmss" (years 2000 to 2099),
        /// with the week day of its date.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorSetTimeTo(string address, string macText, string localTime);

        /// <summary>Reads the clock as "yy-mm-dd hh:mm:ss" (text: 18 chars) and the day of the week.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorShowTime(string address, StringBuilder text, out uint weekDay,
                                               string macText);

        // ---- Door actuation ----

        /// <summary>Forces the actuation of door 0..3.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorCompelOpenOrClose(string address, uint door, string macText);

        /// <summary>DoorCompelOpenOrClose with an extra request byte.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint MulDoorCompelOpenOrClose(string address, uint door, int extra,
                                                           string macText);

        /// <summary>Sends the controller its initialisation command.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorInit(string address, string macText);

        // ---- Door state queries ----

        /// <summary>Reads the current state (0..3).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorCurState(string address, string macText, out uint state);

        /// <summary>DoorCurState with an extra request byte (below 256).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint MulDoorCurState(string address, string macText, out uint state,
                                                  int extra);

        /// <summary>The raw reply to selector 0..3 (14 bytes for selector 1, else 10), or
        /// IntPtr.Zero. The bytes belong to the calling thread until its next DoorState call;
        /// copy them out with Marshal.Copy.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern IntPtr DoorState(string address, uint selector, string macText);

        /// <summary>Reads the record and direction values (16 bits each).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorRecAndDir(string address, out uint rec, out uint dir,
                                                string macText);

        // ---- Lock and button times ----

        /// <summary>Sends lock and button time lists of up to 8 items "hhmm," each.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorLockAndButtonTime(string address, string lockTimes,
                                                        string buttonTimes, string macText);

        /// <summary>DoorLockAndButtonTime with an extra request byte.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint MulDoorLockAndButtonTime(string address, string lockTimes,
                                                           string buttonTimes, byte extra,
                                                           string macText);

        /// <summary>Sends lists of up to 4 long items "hhmm-hhmm-nn;" each.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorLockAndButtonTime3(string address, string lockTimes,
                                                         string buttonTimes, string macText);

        /// <summary>Kind 0, 1, 2: DoorLockAndButtonTime, DoorLockAndButtonTime3,
        /// MulDoorLockAndButtonTime with extra.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint LockAndButtonTime(string address, string lockTimes,
                                                    string buttonTimes, string macText, int extra,
                                                    int kind);

        // ---- Modes and rest days ----

        /// <summary>Sends the 3 mode bytes.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint SetMode(byte[] modes, string address, string macText);

        /// <summary>SetMode with an extra request byte.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint MulSetMode(byte[] modes, byte extra, string address, string macText);

        /// <summary>Sends the week pattern (7 of '0'/'1' from Sunday) and up to 20 rest days
        /// "mmdd," each.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorRestDay(string address, string weekDays, string restDays,
                                              string macText);

        // ---- Monitoring, photo test and flags ----

        /// <summary>Asks the controller to report to this host; socketOut receives the
        /// monitoring socket, which the caller closes.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorScout(string address, out uint socketOut);

        /// <summary>DoorScout with an extra request byte.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorScout1(string address, byte extra, out uint socketOut);

        /// <summary>Asks the controller to take a test photo.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint PhotoTest(string address);

        /// <summary>Sends the flag of kind 1 (other kinds: the other flag) for the card text
        /// "sssnnnnn".</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorFlag(string address, byte kind, string cardText, string macText);

        // ---- Card reader ----

        /// <summary>Reads one card from the reader on portName into result (20 chars):
        /// "vvvvvvvvvv,sssnnnnn".</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint GetCardNo(string portName, StringBuilder result);

        // ---- Framed commands ----

        /// <summary>Sends a framed command (station: 2 bytes; command: byte, length high
        /// first, payload); answer (3 + 1006 bytes) receives the answer the same way.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint SysComInter(string address, ushort node, uint unused1, uint unused2,
                                              byte[] station, byte[] command, [Out] byte[] answer);

        // ---- Card lists ----

        /// <summary>Converts cards 1..count of the source file into the short-record list
        /// file of listNumber.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint FormatName(string sourcePath, int count, uint listNumber);

        /// <summary>FormatName with long records.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint FormatName1(string sourcePath, int count, uint listNumber);

        /// <summary>Kind 0: FormatName, kind 1: FormatName1.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint TransformName(string sourcePath, int count, uint listNumber,
                                                uint kind);

        /// <summary>Builds the short record (300 bytes) of one card of the source file.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint FormatSignalName(string sourcePath, int cardIndex,
                                                   [Out] byte[] record);

        /// <summary>Builds the long record (360 bytes) of one card of the source file.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint FormatSignalName1(string sourcePath, int cardIndex,
                                                    [Out] byte[] record);

        /// <summary>Writes one short record into the list file of listNumber (a new list
        /// when append is 0).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint NameToText(string card, string serialNo, uint userStyle,
                                             string sunday, string monday, string tuesday,
                                             string wednesday, string thursday, string friday,
                                             string saturday, string password, uint openStyle,
                                             int listNumber, uint append);

        /// <summary>NameToText with long records (1 to 11 card texts).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint NameToText1(string card, string serialNo, uint userStyle,
                                              string sunday, string monday, string tuesday,
                                              string wednesday, string thursday, string friday,
                                              string saturday, string password, uint openStyle,
                                              int listNumber, uint append);

        /// <summary>Sends the first count short records of list listNumber to the
        /// controller.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorDownName(string address, int count, int listNumber,
                                               string macText);

        /// <summary>DoorDownName for a list of long records.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorDownName1(string address, int count, int listNumber,
                                                string macText);

        /// <summary>Kind 0: DoorDownName, kind 1: DoorDownName1.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DownName(string address, int count, int listNumber, string macText,
                                           uint kind);

        /// <summary>Reads the controller's card records into list/ReCardInfo%03d.dat.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint LookDoorName(string address, int listNumber, string macText);

        /// <summary>Turns a read-back card file into ReCard%03d.ini beside it.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint NameToini(string readBackPath, int number);

        // ---- Devices and network settings ----

        /// <summary>Discovery by broadcast (broadcast == 1) or at address, into eqminfo.ini.
        /// Returns the entry count before the last answer's entry, 0 when none answered,
        /// -1 when no socket could be opened or a send failed. Lasts about 12 s.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern int FindEqm(string address, byte broadcast);

        /// <summary>Gives the controller the settings of the 15-byte record.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint modifyEqm(byte[] settings, string address, string macText);

        /// <summary>Tells the controller this host's address and a new socket's port;
        /// socketHandle receives that socket, which the caller closes.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorTransIP(string address, out uint socketHandle, string macText);

        /// <summary>Gives the controller the 6-byte MAC newMac; macText (13 chars) receives
        /// the MAC it reports.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint SetMacAddr(string address, byte[] newMac, StringBuilder macText);

        /// <summary>Mode 2: sets the MAC of firstText, serial into secondText. Mode 3: the MAC
        /// of the controller secondText into firstText. Both 13 chars.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint MacInfo(string address, int mode, StringBuilder firstText,
                                          StringBuilder secondText);

        /// <summary>The serial number text (13 chars) of a MAC text.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint TransMacToSerialNo(string macText, StringBuilder serial);

        /// <summary>Up to four ICMP echo requests; status lines go to ping.ini.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint Ping(string address);

        // ---- Records and images ----

        /// <summary>Fetches records and photos. 0 on failure; 1: silence after every image,
        /// 2: end marker, 3: short reply.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DataRtn(string address, int controller, string macText);

        /// <summary>Fetches records without photos. 0 on failure; 1: every block came,
        /// 2: nothing to fetch.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint TxDataRtn(string address, int controller, string macText);

        /// <summary>Waits up to 2 s on a monitoring socket for an error report (text: 1066
        /// chars).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint ErrorScore(string address, StringBuilder text, int controller,
                                             uint socket);

        /// <summary>Waits on a monitoring socket for a pushed photo; cardText (9 chars) and
        /// timeText (17 chars) describe it.</summary>
        [DllImport(Library, CallingConvention = CallingConvention.StdCall, CharSet = CharSet.Ansi)]
        public static extern uint DoorPic(uint unused, StringBuilder cardText, StringBuilder timeText,
                                          uint socket);
    }
}
