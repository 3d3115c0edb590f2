using System;
using System.Collections.Concurrent;
using System.Threading;
using System.Threading.Tasks;

namespace Quentara.Qapi.Tests.Support;

/// <summary>
/// A SynchronizationContext with one thread, as a UI thread has: Post queues,
/// the thread runs what is queued in order.  Send is refused, so that a
/// binding that used it would fail the tests.  <see cref="Hold"/> keeps the
/// thread busy (a UI thread in a long handler) until released.
/// </summary>
public sealed class SingleThreadContext : SynchronizationContext, IDisposable
{
    private readonly BlockingCollection<(SendOrPostCallback, object?)> _queue = new();

    public SingleThreadContext()
    {
        Thread = new Thread(Run) { IsBackground = true, Name = "single-thread context" };
        Thread.Start();
    }

    public Thread Thread { get; }

    public override void Post(SendOrPostCallback d, object? state) => _queue.Add((d, state));

    public override void Send(SendOrPostCallback d, object? state) =>
        throw new InvalidOperationException("Send: the binding must only Post");

    /// <summary>Runs <paramref name="body"/> on the context's thread, with the context current.</summary>
    public Task<T> RunAsync<T>(Func<Task<T>> body)
    {
        var done = new TaskCompletionSource<T>(TaskCreationOptions.RunContinuationsAsynchronously);
        Post(async _ =>
        {
            try
            {
                done.SetResult(await body());
            }
            catch (Exception e)
            {
                done.SetException(e);
            }
        }, null);
        return done.Task;
    }

    /// <summary>Keeps the thread busy until the returned object is disposed.</summary>
    public IDisposable Hold()
    {
        var release = new ManualResetEventSlim();
        var held = new ManualResetEventSlim();
        Post(_ =>
        {
            held.Set();
            release.Wait();
        }, null);
        held.Wait();
        return new Release(release);
    }

    public void Dispose() => _queue.CompleteAdding();

    private void Run()
    {
        SetSynchronizationContext(this);
        foreach ((SendOrPostCallback callback, object? state) in _queue.GetConsumingEnumerable())
        {
            callback(state);
        }
    }

    private sealed class Release(ManualResetEventSlim release) : IDisposable
    {
        public void Dispose() => release.Set();
    }
}
