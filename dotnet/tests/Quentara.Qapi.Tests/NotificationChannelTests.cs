using System;
using System.Collections.Generic;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Xunit;

namespace Quentara.Qapi.Tests;

/// <summary>The stack's channel on its own: one writer, as the pump writes, and readers.</summary>
public sealed class NotificationChannelTests
{
    private static Notification Note(long n) => new UnknownNotification(null!, 0, n);

    private static long[] ReadAll(NotificationChannel channel)
    {
        var values = new List<long>();
        while (channel.TryRead(out Notification? note))
        {
            values.Add(((UnknownNotification)note).Value);
        }
        return values.ToArray();
    }

    [Fact]
    public void HoldsItsCapacityInOrderAsItGrowsAndWrapsRound()
    {
        var channel = new NotificationChannel(300);
        long written = 0;
        Assert.Equal(300, Enumerable.Range(0, 1000).Count(_ => channel.TryWrite(Note(written++))));
        Assert.Equal(300, channel.Count);
        Assert.True(channel.TryPeek(out Notification? first));
        Assert.Equal(0, ((UnknownNotification)first).Value);
        Assert.Equal(Enumerable.Range(0, 300).Select(n => (long)n), ReadAll(channel));

        // Reading makes room again; the ring's slots are used round and round.
        for (int lap = 0; lap < 5; lap++)
        {
            for (int i = 0; i < 250; i++)
            {
                Assert.True(channel.TryWrite(Note(lap * 1000 + i)));
            }
            Assert.Equal(Enumerable.Range(lap * 1000, 250).Select(n => (long)n), ReadAll(channel));
        }
        Assert.Equal(0, channel.Count);
    }

    [Fact]
    public async Task AWaitingReaderWakesOnTheBatchAndTheChannelCompletesOnceRead()
    {
        var channel = new NotificationChannel(10);
        ValueTask<bool> waiting = channel.WaitToReadAsync();
        using var cancel = new CancellationTokenSource();
        ValueTask<bool> cancelled = channel.WaitToReadAsync(cancel.Token);
        channel.TryWrite(Note(1));
        channel.TryWrite(Note(2));
        Assert.False(waiting.IsCompleted);  // the batch is not through yet
        cancel.Cancel();
        await Assert.ThrowsAnyAsync<OperationCanceledException>(async () => await cancelled);

        channel.Wake();
        Assert.True(await waiting.AsTask().WaitAsync(TimeSpan.FromSeconds(5)));
        channel.TryWrite(Note(3));
        channel.Complete();
        Assert.False(channel.Completion.IsCompleted);  // three wait to be read
        var read = new List<long>();
        await foreach (Notification note in channel.ReadAllAsync().WithCancellation(CancellationToken.None))
        {
            read.Add(((UnknownNotification)note).Value);
        }
        Assert.Equal(new long[] { 1, 2, 3 }, read);
        await channel.Completion.WaitAsync(TimeSpan.FromSeconds(5));
        Assert.False(await channel.WaitToReadAsync());
    }

    [Fact]
    public async Task ReadersRacingTheWriterTakeEveryNotificationOnce()
    {
        const int Total = 200_000;
        var channel = new NotificationChannel(1000);
        var readers = Enumerable.Range(0, 3).Select(_ => Task.Run(async () =>
        {
            var taken = new List<long>();
            await foreach (Notification note in channel.ReadAllAsync())
            {
                taken.Add(((UnknownNotification)note).Value);
            }
            return taken;
        })).ToArray();
        var writer = new Thread(() =>
        {
            for (long n = 0; n < Total;)
            {
                for (int batch = 0; batch < 100 && n < Total; batch++)
                {
                    if (channel.TryWrite(Note(n)))
                    {
                        n++;
                    }
                }
                channel.Wake();
            }
            channel.Complete();
        });
        writer.Start();
        List<long>[] taken = await Task.WhenAll(readers).WaitAsync(TimeSpan.FromSeconds(60));
        writer.Join();
        Assert.Equal(Enumerable.Range(0, Total).Select(n => (long)n), taken.SelectMany(t => t).OrderBy(n => n));
        Assert.All(taken, t => Assert.Equal(t.OrderBy(n => n), t));  // each reader in the order written
    }
}
