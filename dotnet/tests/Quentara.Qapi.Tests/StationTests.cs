using System;
using System.Collections.Concurrent;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Quentara.Qapi.Tests.Support;
using Xunit;

namespace Quentara.Qapi.Tests;

[Collection(SimCollection.Name)]
public sealed class StationTests(SimHosts hosts)
{
    [Fact]
    public async Task AStationRegistersRingsAndIsAnsweredFromItsHandlerOnTheCreatorsThread()
    {
        using Simulator sim = hosts.StartSimulator();
        using var context = new SingleThreadContext();
        await using QapiStack stack = await QapiStack.StartAsync(SimHosts.StationPort, Notes.Options());
        var threads = new ConcurrentBag<Thread>();
        var talking = new TaskCompletionSource<Snapshot>(TaskCreationOptions.RunContinuationsAsynchronously);
        QapiStation station = await context.RunAsync(async () =>
        {
            QapiStation started = await stack.StartStationAsync(17);
            started.SnapshotChanged += (_, e) =>
            {
                threads.Add(Thread.CurrentThread);
                if (e.Snapshot.IsAlerting)
                {
                    _ = started.AnswerAsync();
                }
                else if (e.Snapshot.CanHold)
                {
                    talking.TrySetResult(e.Snapshot);
                }
            };
            return started;
        });

        Snapshot registered = await stack.Notifications.NextAsync<Snapshot>(n => n.RegState == RegState.Registered);
        Assert.Same(station, registered.Source);
        Assert.True(registered.StationId == 17 && registered.CanNewCall && !registered.CanAnswer);
        sim.Expect("station 17: registered");
        sim.Send("ring 17 4711");
        Snapshot answered = await talking.Task.WaitAsync(TimeSpan.FromSeconds(10));
        Assert.True(answered.CanClear && !answered.CanAnswer && !answered.IsAlerting);
        Assert.All(threads, thread => Assert.Same(context.Thread, thread));
        Assert.Same(answered, station.Snapshot);

        // Answering again is refused by the library, which names the operation.
        QapiRefusedException refused = await Assert.ThrowsAsync<QapiRefusedException>(station.AnswerAsync);
        Assert.Equal("QAPI_Client_answer", refused.Operation);
        Assert.Contains("CanAnswer", refused.Message);
        await Assert.ThrowsAsync<QapiRefusedException>(() => stack.StartStationAsync(17));

        await station.DisposeAsync();
        Assert.False(station.IsLive);
        await Assert.ThrowsAsync<ObjectDisposedException>(station.ClearAsync);
    }

    [Fact]
    public async Task CallRecordsArriveAndARouteRequestIsAnsweredFromItsHandler()
    {
        using Simulator sim = hosts.StartSimulator();
        await using QapiStack stack = await QapiStack.StartAsync(SimHosts.StationPort, Notes.Options());
        CallRecordFeed feed = await stack.StartCallRecordFeedAsync(SimHosts.SimAddress, SimHosts.FeedPort);
        RoutingLink link = await stack.StartRoutingLinkAsync(SimHosts.SimAddress, SimHosts.AdjunctPort);
        var answered = new TaskCompletionSource<RouteRequest>(TaskCreationOptions.RunContinuationsAsynchronously);
        link.RouteRequested += async (_, e) =>
        {
            await link.RespondAsync(e.Request.Handle, "200", 0);
            answered.TrySetResult(e.Request);
        };

        var records = new CallRecord[3];
        for (int i = 0; i < records.Length; i++)
        {
            records[i] = await stack.Notifications.NextAsync<CallRecord>();
        }
        Assert.Equal("FBD", new string(records.Select(r => r.KindLetter).ToArray()));
        Assert.All(records, r => Assert.Same(feed, r.Source));
        CallRecord first = records[0];
        Assert.Equal((0, 30, 10, 17, 5, 2024, 60u), (first.Second, first.Minute, first.Hour, first.Day, first.Month, first.Year, first.Duration));
        Assert.Equal((17, 4711, 1), (first.NumberA, first.NumberB, first.NumberC));
        Assert.Equal(("4711", "17", "0815", ""), (first.TextA, first.TextB, first.TextC, first.Text));
        Assert.Equal((1u, 2u, 3u, 4u, 1000u), (first.WordA, first.WordB, first.ValueA, first.ValueB, first.NumberD));
        Assert.Equal(("192.0.2.10", SimHosts.SimAddress), (first.AddressText, first.ServerAddressText));
        Assert.Equal(("Call record note 2", "", 1), (records[1].Text, records[1].TextA, records[1].Kind));
        Assert.Equal((18, "4712", "18"), (records[2].NumberA, records[2].TextA, records[2].TextC));
        Assert.Equal(ConnectionState.Connected, feed.State);

        await Notes.UntilAsync(() => link.State == ConnectionState.Connected, "the link's coming up");
        sim.Send("route 4711 17 4711 17");
        RouteRequest request = await answered.Task.WaitAsync(TimeSpan.FromSeconds(10));
        Assert.Equal((4711, 17, "4711", "17"), (request.NumberA, request.NumberB, request.TextA, request.TextB));
        sim.Expect("route response .*\"200\"");
        QapiRefusedException twice = await Assert.ThrowsAsync<QapiRefusedException>(() => link.RespondAsync(request.Handle, "200"));
        Assert.Equal("QAPI_Adjunct_response", twice.Operation);

        QapiRefusedException nobody = await Assert.ThrowsAsync<QapiRefusedException>(() => stack.StartCallRecordFeedAsync("127.0.0.1", 9));
        Assert.Equal("QAPI_Cmdr_start", nobody.Operation);
    }

    [Fact]
    public async Task AFeedWhoseServerGoesAwayReconnectsByItself()
    {
        using Simulator first = hosts.StartSimulator();
        await using QapiStack stack = await QapiStack.StartAsync(SimHosts.StationPort, Notes.Options());
        CallRecordFeed feed = await stack.StartCallRecordFeedAsync(SimHosts.SimAddress, SimHosts.FeedPort, ReconnectPolicy.Default);
        for (int i = 0; i < 3; i++)
        {
            await stack.Notifications.NextAsync<CallRecord>();
        }

        first.Dispose();  // the server ends: the library reports the feed failed
        FeedStatus failed = await stack.Notifications.NextAsync<FeedStatus>();
        Assert.Equal(FeedState.Failed, failed.State);
        ConnectionStateChanged lost = await stack.Notifications.NextAsync<ConnectionStateChanged>();
        Assert.Equal((ConnectionState.Disconnected, ConnectionState.Connected, TimeSpan.FromSeconds(1)), (lost.State, lost.Previous, lost.RetryIn));
        Assert.Equal(failed.Text, lost.Reason);

        using Simulator second = hosts.StartSimulator();
        ConnectionStateChanged back = await stack.Notifications.NextAsync<ConnectionStateChanged>(c => c.State == ConnectionState.Connected);
        Assert.Same(feed, back.Source);
        Assert.Equal('F', (await stack.Notifications.NextAsync<CallRecord>()).KindLetter);
        Assert.Equal(ConnectionState.Connected, feed.State);
    }
}
