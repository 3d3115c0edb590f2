using System;
using System.Collections.Generic;
using System.Threading;
using System.Threading.Channels;
using System.Threading.Tasks;
using Microsoft.Extensions.Logging;
using Microsoft.Extensions.Logging.Abstractions;
using Quentara.Qapi.Native;
using Quentara.Qapi.Pump;

namespace Quentara.Qapi;

/// <summary>
/// The library, running: a thread of its own initialises it, runs its tick
/// and takes its notifications; stations, feeds and links start from here.
/// The library is process-wide, so one stack lives at a time.
/// <para>Threading: every operation runs on the pump thread and returns a
/// task; each notification is copied there into an immutable object, then
/// raised as an event on the SynchronizationContext of the thread that
/// created its object (Post, never Send; the thread pool when there is none)
/// and written to <see cref="Notifications"/>.  No code of the application
/// ever runs on the pump thread.</para>
/// </summary>
public sealed class QapiStack : IAsyncDisposable, IDisposable, INotificationSink
{
    private static int s_live;

    private readonly NotificationChannel? _channel;
    private readonly Dictionary<IntPtr, QapiObject> _byWindow = new();
    private readonly List<EventDispatcher> _dispatchers = new();
    private readonly int _eventCapacity;
    private readonly NotificationDecoder _decoder;
    private IntPtr _lastWindow;
    private QapiObject? _lastSource;
    private Task? _disposal;
    private long _droppedNotifications;
    private long _droppedEvents;
    private int _pendingEvents;
    private volatile bool _disposing;

    private QapiStack(int stationPort, QapiStackOptions options)
    {
        StationPort = stationPort;
        Logger = options.Logger ?? NullLogger.Instance;
        Codec = new TextCodec(options.Encoding);
        _decoder = new NotificationDecoder(Codec);
        _eventCapacity = options.EventCapacity;
        ManualClock = options.ManualClock;
        if (options.NotificationCapacity > 0)
        {
            _channel = new NotificationChannel(options.NotificationCapacity);
        }
        Pump = MessagePump.Create(this);
    }

    /// <summary>The station protocol's UDP port the library was started with.</summary>
    public int StationPort { get; }

    /// <summary>
    /// Every notification of every object, in the order the library posted
    /// them (the binding's <see cref="ConnectionStateChanged"/> among them),
    /// for services that read with <c>await foreach</c>.  Completes when the
    /// stack is disposed.  Bounded: see <see cref="QapiStackOptions.NotificationCapacity"/>.
    /// </summary>
    public ChannelReader<Notification> Notifications =>
        (ChannelReader<Notification>?)_channel ?? throw new InvalidOperationException("the stack was started with NotificationCapacity 0: no channel");

    /// <summary>Notifications the channel had no room for.</summary>
    public long DroppedNotifications => Interlocked.Read(ref _droppedNotifications);

    /// <summary>Events dropped because their thread had <see cref="QapiStackOptions.EventCapacity"/> waiting.</summary>
    public long DroppedEvents => Interlocked.Read(ref _droppedEvents);

    internal MessagePump Pump { get; }

    internal ILogger Logger { get; }

    internal TextCodec Codec { get; }

    internal bool ManualClock { get; }

    /// <summary>
    /// Starts the library on a new pump thread.  Throws
    /// <see cref="QapiRefusedException"/> when it cannot start,
    /// <see cref="InvalidOperationException"/> while another stack lives, and
    /// <see cref="DllNotFoundException"/> when the native library is not found.
    /// </summary>
    public static async Task<QapiStack> StartAsync(int stationPort, QapiStackOptions? options = null)
    {
        if (stationPort is < 0 or > 65535)
        {
            throw new ArgumentOutOfRangeException(nameof(stationPort), "a UDP port: 0 to 65535");
        }
        options ??= new QapiStackOptions();
        options.Validate();
        if (Interlocked.CompareExchange(ref s_live, 1, 0) != 0)
        {
            throw new InvalidOperationException("a QapiStack is running: the library is process-wide, dispose that one first");
        }
        QapiStack? stack = null;
        try
        {
            LibraryResolver.Install(options.LibraryPath);
            stack = new QapiStack(stationPort, options);
            await stack.Pump.StartAsync().ConfigureAwait(false);
            bool manual = options.ManualClock;
            await stack.Pump.Invoke(() =>
            {
                // The message layer's clock is process-wide: an earlier stack may have left it manual.
                stack.Pump.UseManualClock(manual);
                if (QapiExports.QAPI_Stack_initialize((uint)stationPort) != 0)
                {
                    QapiExports.QAPI_Stack_release();
                    throw new QapiRefusedException("QAPI_Stack_initialize");
                }
                stack.Pump.LibraryStarted();
            }).ConfigureAwait(false);
            stack.Logger.LogDebug("QapiDll started on station port {Port} ({Library})", stationPort,
                LibraryResolver.LoadedFrom ?? "found by the system's search");
            return stack;
        }
        catch
        {
            if (stack != null)
            {
                stack.Pump.Invoke(stack.Pump.Stop).Ignore();
                await stack.Pump.Ended.ConfigureAwait(false);
            }
            Volatile.Write(ref s_live, 0);
            throw;
        }
    }

    /// <summary>
    /// Starts a station client for <paramref name="stationId"/> (-1: the
    /// identifier of the server's registration reply).  Its events are raised
    /// on the calling thread's SynchronizationContext.
    /// </summary>
    public Task<QapiStation> StartStationAsync(int stationId = -1)
    {
        EventDispatcher dispatcher = DispatcherForCaller();
        return OnPump(() =>
        {
            IntPtr window = Pump.CreateWindow();
            IntPtr handle = LibraryResolver.IsWindows
                ? QapiExports.QAPI_Client_start_win32(window, stationId)
                : QapiExports.QAPI_Client_start_posix((uint)window, stationId);
            if (handle == IntPtr.Zero)
            {
                Pump.DestroyWindow(window);
                throw new QapiRefusedException("QAPI_Client_start");
            }
            var station = new QapiStation(this, dispatcher, window, handle, stationId);
            _byWindow.Add(window, station);
            return station;
        });
    }

    /// <summary>
    /// Opens a feed of call records from <paramref name="host"/> (a name, an
    /// IPv4 or IPv6 address) and <paramref name="port"/>.  Without
    /// <paramref name="reconnect"/> a failed connection is final and a refused
    /// start throws; with it the feed starts again by itself.
    /// </summary>
    public Task<CallRecordFeed> StartCallRecordFeedAsync(string host, int port, ReconnectPolicy? reconnect = null) =>
        StartConnection(host, port, reconnect, (dispatcher, window) => new CallRecordFeed(this, dispatcher, window, host, port, reconnect));

    /// <summary>Opens a routing link to <paramref name="host"/> and <paramref name="port"/>; reconnection as for feeds.</summary>
    public Task<RoutingLink> StartRoutingLinkAsync(string host, int port, ReconnectPolicy? reconnect = null) =>
        StartConnection(host, port, reconnect, (dispatcher, window) => new RoutingLink(this, dispatcher, window, host, port, reconnect));

    /// <summary>With <see cref="QapiStackOptions.ManualClock"/>: lets <paramref name="milliseconds"/> pass, running the ticks due, and takes what they posted.</summary>
    public Task AdvanceClockAsync(int milliseconds)
    {
        if (!ManualClock)
        {
            throw new InvalidOperationException("the stack runs on the real clock (QapiStackOptions.ManualClock)");
        }
        if (milliseconds < 0)
        {
            throw new ArgumentOutOfRangeException(nameof(milliseconds));
        }
        return OnPump(() =>
        {
            Pump.AdvanceClock((uint)milliseconds);
            while (Pump.DrainMessages(MessagePump.MessagesPerTurn) == MessagePump.MessagesPerTurn)
            {
            }
            return true;
        });
    }

    /// <summary>
    /// Stops every object and the library and ends the pump thread.  Every
    /// event queued before completes first; none is raised after it, and the
    /// channel completes.
    /// </summary>
    public ValueTask DisposeAsync()
    {
        lock (_dispatchers)
        {
            _disposing = true;
            _disposal ??= DisposeCore();
            return new ValueTask(_disposal);
        }
    }

    /// <summary>Stops everything like <see cref="DisposeAsync"/>, but does not wait for events queued on a thread.</summary>
    public void Dispose()
    {
        Task disposal;
        lock (_dispatchers)
        {
            _disposing = true;
            _disposal ??= DisposeCore(waitForEvents: false);
            disposal = _disposal;
        }
        if (!Pump.OnPumpThread)
        {
            disposal.GetAwaiter().GetResult();
        }
    }

    void INotificationSink.OnMessage(IntPtr window, uint message, nuint wParam, IntPtr lParam)
    {
        if (message != MessagePump.NotifyMessage)
        {
            return;
        }
        // Notifications come in runs for one window: the last one found is tried first.
        QapiObject? source = _lastSource;
        if (window != _lastWindow || source == null)
        {
            if (!_byWindow.TryGetValue(window, out source))
            {
                return;
            }
            _lastWindow = window;
            _lastSource = source;
        }
        try
        {
            Notification note = _decoder.Decode(source, (uint)wParam, lParam);
            source.Observe(note);
            Publish(source, note);
            source.React(note);
        }
        catch (Exception e)
        {
            Logger.LogError(e, "notification {Code} of {Source} could not be taken", (uint)wParam, source);
        }
    }

    void INotificationSink.BatchTaken() => _channel?.Wake();

    /// <summary>Hands a notification to the channel and to its object's events (pump thread).</summary>
    internal void Publish(QapiObject source, Notification note)
    {
        if (_channel != null && !_channel.TryWrite(note) && Interlocked.Increment(ref _droppedNotifications) == 1)
        {
            Logger.LogWarning("the notification channel is full: new notifications are dropped until it is read (or start with NotificationCapacity 0)");
        }
        if (!source.HasHandlers)
        {
            return;
        }
        if (Interlocked.Increment(ref _pendingEvents) > _eventCapacity)
        {
            Interlocked.Decrement(ref _pendingEvents);
            if (Interlocked.Increment(ref _droppedEvents) == 1)
            {
                Logger.LogWarning("{Capacity} events wait for their thread: new ones are dropped until it catches up", _eventCapacity);
            }
            return;
        }
        source.Dispatcher.Enqueue(source, note);
    }

    internal void EventTaken() => Interlocked.Decrement(ref _pendingEvents);

    /// <summary>Runs <paramref name="call"/> on the pump thread; refused with ObjectDisposedException once the stack is being disposed.</summary>
    internal Task<T> OnPump<T>(Func<T> call)
    {
        if (_disposing)
        {
            return Task.FromException<T>(new ObjectDisposedException(nameof(QapiStack)));
        }
        return Pump.Invoke(() =>
        {
            if (_disposing)
            {
                throw new ObjectDisposedException(nameof(QapiStack));
            }
            return call();
        });
    }

    /// <summary>Stops one object (pump thread): first takes what waits, so that nothing posted before is lost.</summary>
    internal Task StopObject(QapiObject target)
    {
        Pump.DrainMessages(int.MaxValue);
        target.StopNative();
        _byWindow.Remove(target.Window);
        _lastSource = null;
        Pump.DestroyWindow(target.Window);
        return target.Dispatcher.Close(target);
    }

    private Task<TConnection> StartConnection<TConnection>(string host, int port, ReconnectPolicy? reconnect,
        Func<EventDispatcher, IntPtr, TConnection> create) where TConnection : QapiConnection
    {
        if (host == null)
        {
            throw new ArgumentNullException(nameof(host));
        }
        if (port is < 0 or > 65535)
        {
            throw new ArgumentOutOfRangeException(nameof(port), "a port: 0 to 65535");
        }
        reconnect?.Validate();
        EventDispatcher dispatcher = DispatcherForCaller();
        return OnPump(() =>
        {
            IntPtr window = Pump.CreateWindow();
            TConnection connection = create(dispatcher, window);
            bool connected = connection.Connect();
            if (!connected && reconnect == null)
            {
                Pump.DestroyWindow(window);
                throw new QapiRefusedException(connection.StartFunction);
            }
            _byWindow.Add(window, connection);
            connection.Started(connected);
            return connection;
        });
    }

    private EventDispatcher DispatcherForCaller()
    {
        SynchronizationContext? context = EventDispatcher.CurrentContext();
        lock (_dispatchers)
        {
            if (_disposing)
            {
                throw new ObjectDisposedException(nameof(QapiStack));
            }
            foreach (EventDispatcher known in _dispatchers)
            {
                if (ReferenceEquals(known.Context, context))
                {
                    return known;
                }
            }
            var dispatcher = new EventDispatcher(this, context);
            _dispatchers.Add(dispatcher);
            return dispatcher;
        }
    }

    private async Task DisposeCore(bool waitForEvents = true)
    {
        var closing = new List<Task>();
        try
        {
            await Pump.Invoke(() =>
            {
                Pump.DrainMessages(int.MaxValue);
                foreach (QapiObject target in new List<QapiObject>(_byWindow.Values))
                {
                    target.MarkStopping();
                    closing.Add(StopObject(target));
                }
                QapiExports.QAPI_Stack_release();
                Pump.Stop();
            }).ConfigureAwait(false);
        }
        finally
        {
            _channel?.Complete();
            await Pump.Ended.ConfigureAwait(false);
            Volatile.Write(ref s_live, 0);
        }
        if (waitForEvents)
        {
            await Task.WhenAll(closing).ConfigureAwait(false);
        }
    }
}

internal static class TaskExtensions
{
    /// <summary>Observes a task whose outcome does not matter.</summary>
    internal static void Ignore(this Task task) => task.ContinueWith(t => _ = t.Exception, TaskScheduler.Default);
}
