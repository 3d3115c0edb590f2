using System;
using System.Threading;
using System.Threading.Tasks;

namespace Quentara.Qapi.Bench;

/// <summary>A feed of the simulator's call records: rounds untimed until WARMUP records have come, then timed until WARMUP + COUNT have, one tick a round.</summary>
internal static class RecordRounds
{
    internal static async Task<int> Run(string[] args)
    {
        string server = args[1];
        long warmup = long.Parse(args[2]), wanted = long.Parse(args[3]);
        var options = new QapiStackOptions { ManualClock = true, NotificationCapacity = 1_000_000 };
        await using QapiStack stack = await QapiStack.StartAsync(5001, options);
        await using CallRecordFeed feed = await stack.StartCallRecordFeedAsync(server, 7001);
        var meter = new Meter();
        Meter.OnOwnThread(() =>
        {
            for (int idle = 0; meter.Seen < warmup + wanted && idle < 200;)
            {
                long before = meter.Seen;
                bool timed = before >= warmup;
                meter.Begin();
                stack.AdvanceClockAsync(100).GetAwaiter().GetResult();
                while (stack.Notifications.TryRead(out Notification? note))
                {
                    if (note is CallRecord record)
                    {
                        meter.Count((uint)record.NumberA);
                    }
                }
                meter.End(timed);
                idle = meter.Seen == before ? idle + 1 : 0;
                Thread.Sleep(20);
            }
        });
        meter.Print("records", typeof(CallRecord));
        return 0;
    }
}
