using System;
using System.Text;
using Microsoft.Extensions.Logging;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>How a <see cref="QapiStack"/> starts.</summary>
public sealed class QapiStackOptions
{
    /// <summary>
    /// The native library to load (a file, or a folder that holds it).  By
    /// default QAPI_LIBRARY, then the package's runtimes/&lt;rid&gt;/native/
    /// file, then the system's search.  A process loads the library once: the
    /// first stack's choice holds.
    /// </summary>
    public string? LibraryPath { get; set; }

    /// <summary>The encoding of every text, both ways: Latin-1 by default, one character per byte.</summary>
    public Encoding Encoding { get; set; } = TextCodec.Latin1;

    /// <summary>Where the binding logs: states of feeds and links, drops, handlers that threw.</summary>
    public ILogger? Logger { get; set; }

    /// <summary>
    /// How many notifications <see cref="QapiStack.Notifications"/> holds
    /// while no one reads; further ones are dropped (and counted in
    /// <see cref="QapiStack.DroppedNotifications"/>) until it has room.
    /// 0: no channel at all (for applications that use only events).
    /// </summary>
    public int NotificationCapacity { get; set; } = 10_000;

    /// <summary>
    /// How many events may wait for their thread (a busy UI thread) before
    /// further ones are dropped and counted in <see cref="QapiStack.DroppedEvents"/>.
    /// </summary>
    public int EventCapacity { get; set; } = 10_000;

    /// <summary>
    /// Linux only, for tests and measurements: the library's timer runs only
    /// in <see cref="QapiStack.AdvanceClockAsync"/>, not every 100 ms.
    /// </summary>
    public bool ManualClock { get; set; }

    internal void Validate()
    {
        if (NotificationCapacity < 0 || EventCapacity < 1)
        {
            throw new ArgumentOutOfRangeException(nameof(NotificationCapacity), "capacities: NotificationCapacity 0 or more, EventCapacity 1 or more");
        }
        if (Encoding == null)
        {
            throw new ArgumentNullException(nameof(Encoding));
        }
    }
}

/// <summary>
/// Automatic reconnection of a feed or link: after a failure (or a start the
/// server refused) the binding tries again after <see cref="InitialDelay"/>,
/// doubling the wait after each failed try up to <see cref="MaxDelay"/>; a
/// call record or the link's coming up starts it from the beginning again.
/// </summary>
public sealed class ReconnectPolicy
{
    /// <summary>1 s to 60 s.</summary>
    public static ReconnectPolicy Default { get; } = new();

    public TimeSpan InitialDelay { get; init; } = TimeSpan.FromSeconds(1);

    public TimeSpan MaxDelay { get; init; } = TimeSpan.FromSeconds(60);

    /// <summary>The wait before try number <paramref name="attempt"/> (0 the first).</summary>
    public TimeSpan DelayFor(int attempt)
    {
        double ticks = InitialDelay.Ticks * Math.Pow(2, Math.Min(attempt, 30));
        return ticks >= MaxDelay.Ticks ? MaxDelay : TimeSpan.FromTicks((long)ticks);
    }

    internal void Validate()
    {
        if (InitialDelay <= TimeSpan.Zero || MaxDelay < InitialDelay)
        {
            throw new ArgumentOutOfRangeException(nameof(InitialDelay), "a reconnection needs 0 < InitialDelay <= MaxDelay");
        }
    }
}
