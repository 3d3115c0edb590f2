using System;
using System.Collections.Generic;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Quentara.Qapi.Native;
using Quentara.Qapi.Tests.Support;
using Xunit;

namespace Quentara.Qapi.Tests;

/// <summary>
/// The pump, the events and the channel, on the message layer's manual
/// clock: a station with no server still ticks (a heartbeat each second), so
/// every notification is counted exactly.  The station endpoint multicasts:
/// these run inside the private namespace too.
/// </summary>
public sealed class ThreadingTests
{
    [Fact]
    public async Task HandlersRunOnTheCreatorsContextAndADisposalLosesNoneBeforeItAndRaisesNoneAfter()
    {
        Assert.True(SimHosts.InPrivateNamespace(), "run under tests/support/netns-run.sh");
        using var context = new SingleThreadContext();
        await using QapiStack stack = await QapiStack.StartAsync(SimHosts.StationPort, Notes.Options(manualClock: true));
        QapiStation station = await context.RunAsync(() => stack.StartStationAsync(17));
        var raised = new List<(Notification Note, Thread Thread)>();
        station.NotificationReceived += (_, e) => raised.Add((e.Notification, Thread.CurrentThread));

        Task disposal;
        using (context.Hold())
        {
            // The context's thread is busy: notifications wait for it, copied.
            await stack.AdvanceClockAsync(5_000);
            disposal = station.DisposeAsync().AsTask();
            await stack.AdvanceClockAsync(3_000);
            Assert.False(disposal.IsCompleted);
        }
        await disposal.WaitAsync(TimeSpan.FromSeconds(10));

        var posted = new List<Notification>();
        while (stack.Notifications.TryRead(out Notification? note))
        {
            posted.Add(note);
        }
        Assert.Equal(5, posted.OfType<Heartbeat>().Count());
        Assert.Equal(posted, raised.Select(r => r.Note));
        Assert.All(raised, r => Assert.Same(context.Thread, r.Thread));

        await stack.AdvanceClockAsync(3_000);
        Assert.False(stack.Notifications.TryRead(out _));
        Assert.Equal(posted.Count, raised.Count);
    }

    [Fact]
    public async Task AChannelNoOneReadsKeepsWhatFitsAndThePumpKeepsTicking()
    {
        Assert.True(SimHosts.InPrivateNamespace(), "run under tests/support/netns-run.sh");
        await using QapiStack stack = await QapiStack.StartAsync(SimHosts.StationPort, Notes.Options(manualClock: true, capacity: 3));
        Assert.Equal(Paths.Library, LibraryResolver.LoadedFrom);
        await Assert.ThrowsAsync<InvalidOperationException>(() => QapiStack.StartAsync(SimHosts.StationPort));
        QapiStation station = await stack.StartStationAsync(18);

        await stack.AdvanceClockAsync(20_000);
        Assert.True(stack.DroppedNotifications >= 17, $"dropped {stack.DroppedNotifications}");
        var kept = new List<Notification>();
        while (stack.Notifications.TryRead(out Notification? note))
        {
            kept.Add(note);
        }
        Assert.Equal(3, kept.Count);

        // The pump was never held: operations and ticks go on, and a read channel takes notifications again.
        await station.WatchAsync(201);
        await stack.AdvanceClockAsync(1_000);
        Assert.IsType<Heartbeat>(await stack.Notifications.NextAsync<Heartbeat>(seconds: 1));
    }
}
