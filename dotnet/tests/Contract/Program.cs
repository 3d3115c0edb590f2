// The API's contract, as an application writes it: a station rings and is
// answered from its handler, call records arrive, a route request is
// answered.  The simulator is driven from outside: it rings station 17 and
// asks for a route once this program prints "registered".
//   Contract SERVER [SECONDS]     prints "contract passed", or why it failed (exit 1)
using System;
using System.Reflection;
using System.Runtime.Versioning;
using System.Threading;
using System.Threading.Tasks;
using Quentara.Qapi;

string server = args.Length > 0 ? args[0] : "10.78.0.2";
using var timeout = new CancellationTokenSource(TimeSpan.FromSeconds(args.Length > 1 ? int.Parse(args[1]) : 60));
bool answered = false, routed = false;
int records = 0;
Console.WriteLine($"assembly {typeof(QapiStack).Assembly.GetCustomAttribute<TargetFrameworkAttribute>()?.FrameworkName}");
try
{
    await using var stack = await QapiStack.StartAsync(stationPort: 5001);
    await using var station = await stack.StartStationAsync(17);
    station.SnapshotChanged += (s, e) => { if (e.Snapshot.IsAlerting) _ = station.AnswerAsync(); };
    await using var feed = await stack.StartCallRecordFeedAsync(server, 7001);
    feed.RecordReceived += (s, e) => Console.WriteLine($"record {e.Record.KindLetter} {e.Record.NumberA} -> {e.Record.NumberB}");
    await using var link = await stack.StartRoutingLinkAsync(server, 7002);
    link.RouteRequested += async (s, e) =>
    {
        await link.RespondAsync(e.Request.Handle, "200", 0);
        Console.WriteLine($"route {e.Request.NumberA} -> {e.Request.NumberB} answered");
        routed = true;
    };
    bool registered = false;
    await foreach (Notification note in stack.Notifications.ReadAllAsync(timeout.Token))
    {
        if (note is Snapshot { RegState: RegState.Registered } && !registered)
        {
            registered = true;
            Console.WriteLine("registered");
        }
        answered |= note is Snapshot { CanHold: true, IsAlerting: false };
        records += note is CallRecord ? 1 : 0;
        if (answered && routed && records >= 3)
        {
            break;
        }
    }
    Console.WriteLine("contract passed");
    return 0;
}
catch (Exception e)
{
    Console.WriteLine($"contract FAILED (answered {answered}, records {records}, routed {routed}): {e}");
    return 1;
}
