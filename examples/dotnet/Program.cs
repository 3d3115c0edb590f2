// A small service on Quentara.Qapi: it watches a station, answers it when it
// rings, logs every call record and answers every route request with "200",
// reading everything as one stream with await foreach.  Ctrl+C ends it.
//   StationMonitor SERVER [STATION]
// It multicasts to the station group: on a test machine, run it inside a
// private network namespace (tests/support/netns-run.sh).
using System;
using System.Threading;
using System.Threading.Tasks;
using Quentara.Qapi;

string server = args.Length > 0 ? args[0] : "callserver";
int stationId = args.Length > 1 ? int.Parse(args[1]) : 17;
using var stop = new CancellationTokenSource();
Console.CancelKeyPress += (_, e) =>
{
    e.Cancel = true;
    stop.Cancel();
};

await using var stack = await QapiStack.StartAsync(stationPort: 5001);
await using var station = await stack.StartStationAsync(stationId);
await using var feed = await stack.StartCallRecordFeedAsync(server, 7001, ReconnectPolicy.Default);
await using var link = await stack.StartRoutingLinkAsync(server, 7002, ReconnectPolicy.Default);
try
{
    await foreach (Notification note in stack.Notifications.ReadAllAsync(stop.Token))
    {
        switch (note)
        {
            case Snapshot { IsAlerting: true, CanAnswer: true }:
                await station.AnswerAsync();
                Console.WriteLine($"station {stationId}: answered");
                break;
            case Snapshot snapshot:
                Console.WriteLine($"station {snapshot.StationId}: {snapshot.RegState}, call state {snapshot.CallState}");
                break;
            case CallRecord record:
                Console.WriteLine($"record {record.KindLetter}: {record.NumberA} -> {record.NumberB}, {record.Duration} s");
                break;
            case RouteRequest request:
                await link.RespondAsync(request.Handle, "200");
                Console.WriteLine($"route {request.NumberA} -> {request.NumberB}: 200");
                break;
            case ConnectionStateChanged change:
                Console.WriteLine($"{change.Source}: {change.State}{(change.RetryIn is { } wait ? $", again in {wait.TotalSeconds} s" : "")}");
                break;
        }
    }
}
catch (OperationCanceledException)
{
}
catch (QapiRefusedException refused)
{
    Console.Error.WriteLine(refused.Message);
}
