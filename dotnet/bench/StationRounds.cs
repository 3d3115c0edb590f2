using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Net;
using System.Net.Sockets;
using System.Threading;
using System.Threading.Tasks;

namespace Quentara.Qapi.Bench;

/// <summary>
/// Registered stations watching extensions, and the datagrams of FILE
/// multicast before each round with a time to live of 0 (they reach only
/// this host's station port): WARMUP rounds untimed, ROUNDS timed, counting
/// the statuses of 10 and up (the file's).  Then a station operation's
/// round trip.
/// </summary>
internal static class StationRounds
{
    private const int StationPort = 5001;

    internal static async Task<int> Run(string[] args)
    {
        byte[] datagrams = File.ReadAllBytes(args[1]);
        int warmup = int.Parse(args[2]), rounds = int.Parse(args[3]);
        int first = int.Parse(args[4]), count = int.Parse(args[5]);
        int each = count * 12;
        var options = new QapiStackOptions { ManualClock = true, NotificationCapacity = 1_000_000 };
        await using QapiStack stack = await QapiStack.StartAsync(StationPort, options);
        var stations = new List<QapiStation>();
        foreach (string id in args.Skip(6))
        {
            QapiStation station = await stack.StartStationAsync(int.Parse(id));
            stations.Add(station);
            for (int e = 0; e < count; e++)
            {
                await station.WatchAsync(first + e);
            }
        }
        await Register(stack, stations);

        using var sender = new Socket(AddressFamily.InterNetwork, SocketType.Dgram, ProtocolType.Udp);
        sender.SetSocketOption(SocketOptionLevel.IP, SocketOptionName.MulticastTimeToLive, 0);
        sender.SetSocketOption(SocketOptionLevel.IP, SocketOptionName.MulticastLoopback, true);
        var group = new IPEndPoint(IPAddress.Parse("224.3.3.3"), StationPort);
        var meter = new Meter();
        Meter.OnOwnThread(() =>
        {
            for (int round = 0; round < warmup + rounds; round++)
            {
                for (int at = 0; at < datagrams.Length; at += each)
                {
                    sender.SendTo(datagrams, at, each, SocketFlags.None, group);
                }
                Thread.Sleep(1);
                bool timed = round >= warmup;
                meter.Begin();
                stack.AdvanceClockAsync(100).GetAwaiter().GetResult();
                while (stack.Notifications.TryRead(out Notification? note))
                {
                    if (note is ExtensionStatus { Status: >= 10 } status)
                    {
                        meter.Count((ulong)status.Extension * (ulong)status.Status);
                    }
                }
                meter.End(timed);
            }
        });
        meter.Print("stations", typeof(ExtensionStatus));
        await RoundTrip(stations[0], first);
        foreach (QapiStation station in stations)
        {
            await station.DisposeAsync();
        }
        return 0;
    }

    // Registered, then the watched extensions sent and the server's answers taken.
    private static async Task Register(QapiStack stack, List<QapiStation> stations)
    {
        for (int ticks = 0, after = 0; after < 30; ticks++)
        {
            if (ticks == 600)
            {
                throw new TimeoutException("the stations did not register");
            }
            await stack.AdvanceClockAsync(100);
            while (stack.Notifications.TryRead(out _))
            {
            }
            after += stations.All(s => s.Snapshot?.RegState == RegState.Registered) ? 1 : 0;
            await Task.Delay(10);
        }
    }

    // An operation marshalled to the pump and its Task completed back.
    private static async Task RoundTrip(QapiStation station, int extension)
    {
        const int Trips = 20_000;
        for (int i = 0; i < 1000; i++)
        {
            await station.WatchAsync(extension);
            await station.UnwatchAsync(extension);
        }
        var trip = Stopwatch.StartNew();
        for (int i = 0; i < Trips / 2; i++)
        {
            await station.WatchAsync(extension);
            await station.UnwatchAsync(extension);
        }
        trip.Stop();
        Console.WriteLine($"dotnet round_trip_us {trip.Elapsed.TotalMicroseconds / Trips:F2}");
    }
}
