// The .NET side of scripts/bench-dotnet.sh, on the manual clock like the C
// consumer and against the same simulator stream: each round advances one
// tick through the binding (the call marshalled to the pump, the tick, each
// record copied into a CallRecord and written to the channel) and reads the
// channel dry, then waits for the server's next records.  Then the round
// trip of a station operation's Task.
//   Bench SERVER RECORDS
using System;
using System.Diagnostics;
using System.Threading.Tasks;
using Quentara.Qapi;

string server = args.Length > 0 ? args[0] : "127.0.0.1";
long wanted = args.Length > 1 ? long.Parse(args[1]) : 100_000;
var options = new QapiStackOptions { ManualClock = true, NotificationCapacity = 100_000 };
await using var stack = await QapiStack.StartAsync(5001, options);
await using var feed = await stack.StartCallRecordFeedAsync(server, 7001);
long records = 0, checksum = 0;
var spent = new Stopwatch();
long allocated = 0;
for (int idle = 0; records < wanted && idle < 200;)
{
    long before = records;
    long bytes = GC.GetTotalAllocatedBytes(precise: true);
    spent.Start();
    await stack.AdvanceClockAsync(100);
    while (stack.Notifications.TryRead(out Notification? note))
    {
        if (note is CallRecord record)
        {
            checksum += record.NumberA;
            records++;
        }
    }
    spent.Stop();
    allocated += GC.GetTotalAllocatedBytes(precise: true) - bytes;
    idle = records == before ? idle + 1 : 0;
    await Task.Delay(20);
}
double usPerRecord = spent.Elapsed.TotalMicroseconds / records;
Console.WriteLine($"dotnet records {records} us_per_record {usPerRecord:F3} checksum {checksum} bytes_per_record {(double)allocated / records:F1}");

// Round trip: an operation marshalled to the pump and its Task completed back.
await using QapiStation station = await stack.StartStationAsync(17);
const int Trips = 20_000;
for (int i = 0; i < 1000; i++)
{
    await station.WatchAsync(201);
    await station.UnwatchAsync(201);
}
var trip = Stopwatch.StartNew();
for (int i = 0; i < Trips / 2; i++)
{
    await station.WatchAsync(201);
    await station.UnwatchAsync(201);
}
trip.Stop();
Console.WriteLine($"dotnet round_trip_us {trip.Elapsed.TotalMicroseconds / Trips:F2}");
