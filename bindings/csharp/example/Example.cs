// A small doorlink host: reads and sets a controller's clock, opens a door,
// reads the door states and downloads a card list of two cards.
//
//     Example.exe ADDRESS MAC
//
// Exits with 0 when every step succeeded, else 1 after naming the step.
using System;
using System.Runtime.InteropServices;
using System.Text;
using Doorlink;

static class Example
{
    static int failures;

    static void Check(bool ok, string step)
    {
        Console.WriteLine("{0}: {1}", step, ok ? "ok" : "FAILED");
        if (!ok) failures++;
    }

    static int Main(string[] args)
    {
        if (args.Length != 2)
        {
            Console.Error.WriteLine("usage: Example.exe ADDRESS MAC");
            return 2;
        }
        string address = args[0], mac = args[1];

        var serial = new StringBuilder(13);
        Check(NativeMethods.TransMacToSerialNo(mac, serial) == 1, "serial number " + serial);

        // The adaptive wait for this controller (a lossy link), and a bound it refuses.
        Check(NativeMethods.SetAdaptiveWait(address, 20) == 1 && NativeMethods.SetAdaptiveWait(null, 2001) == 0,
              "adaptive wait");

        var clock = new StringBuilder(18);
        uint weekDay;
        // A given local time (a Tuesday), then this host's.
        Check(NativeMethods.DoorSetTimeTo(address, mac, "20301231235950") == 1, "set clock to 2030-12-31");
        Check(NativeMethods.DoorShowTime(address, clock, out weekDay, mac) == 1 &&
                  clock.ToString().StartsWith("30-12-31 23:59:5", StringComparison.Ordinal) && weekDay == 2,
              string.Format("clock {0}, day {1}", clock, weekDay));
        Check(NativeMethods.DoorSetTime(address, mac) == 1, "set clock");
        Check(NativeMethods.DoorShowTime(address, clock, out weekDay, mac) == 1,
              string.Format("clock {0}, day {1}", clock, weekDay));

        Check(NativeMethods.DoorCompelOpenOrClose(address, 1, mac) == 1, "open door 1");
        uint state;
        Check(NativeMethods.DoorCurState(address, mac, out state) == 1, "door state " + state);

        IntPtr raw = NativeMethods.DoorState(address, 1, mac);
        var reply = new byte[14];
        if (raw != IntPtr.Zero) Marshal.Copy(raw, reply, 0, reply.Length);
        Check(raw != IntPtr.Zero, "raw state " + BitConverter.ToString(reply));

        // Two cards into list 1, then the list to the controller.
        const string day = "0800-1800-01;";
        Check(NativeMethods.NameToText("00112345", "123456", 0, day, day, day, day, day, day, day,
                                       "654321", 0, 1, 0) == 1 &&
              NativeMethods.NameToText("00254321", "223344", 1, day, day, day, day, day, day, day,
                                       "443322", 1, 1, 1) == 1,
              "card list of 2 cards");
        Check(NativeMethods.DoorDownName(address, 2, 1, mac) == 1, "download card list");

        // An invalid MAC text fails at once, with no request sent.
        Check(NativeMethods.DoorShowTime(address, clock, out weekDay, "not-a-mac") == 0,
              "invalid MAC refused");
        return failures == 0 ? 0 : 1;
    }
}
