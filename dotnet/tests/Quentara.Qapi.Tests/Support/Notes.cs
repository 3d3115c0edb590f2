using System;
using System.Collections.Generic;
using System.Threading;
using System.Threading.Channels;
using System.Threading.Tasks;

namespace Quentara.Qapi.Tests.Support;

internal static class Notes
{
    /// <summary>Reads the channel until a <typeparamref name="T"/> that matches arrives (within <paramref name="seconds"/>).</summary>
    internal static async Task<T> NextAsync<T>(this ChannelReader<Notification> reader, Func<T, bool>? matches = null,
        double seconds = 10) where T : Notification
    {
        using var timeout = new CancellationTokenSource(TimeSpan.FromSeconds(seconds));
        var seen = new List<string>();
        try
        {
            await foreach (Notification note in reader.ReadAllAsync(timeout.Token))
            {
                if (note is T wanted && (matches == null || matches(wanted)))
                {
                    return wanted;
                }
                seen.Add(note.GetType().Name);
            }
        }
        catch (OperationCanceledException)
        {
        }
        throw new TimeoutException($"no matching {typeof(T).Name} within {seconds} s; seen: {string.Join(", ", seen)}");
    }

    /// <summary>Completes when <paramref name="condition"/> holds (polled), or throws after <paramref name="seconds"/>.</summary>
    internal static async Task UntilAsync(Func<bool> condition, string what, double seconds = 10)
    {
        DateTime deadline = DateTime.UtcNow.AddSeconds(seconds);
        while (!condition())
        {
            if (DateTime.UtcNow > deadline)
            {
                throw new TimeoutException(what + " did not happen");
            }
            await Task.Delay(10);
        }
    }

    internal static QapiStackOptions Options(bool manualClock = false, int capacity = 10_000) => new()
    {
        LibraryPath = Paths.Library,
        ManualClock = manualClock,
        NotificationCapacity = capacity,
    };
}
