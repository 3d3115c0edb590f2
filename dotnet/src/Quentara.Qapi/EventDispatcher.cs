using System;
using System.Collections.Concurrent;
using System.Threading;
using System.Threading.Tasks;
using Microsoft.Extensions.Logging;

namespace Quentara.Qapi;

/// <summary>
/// Raises the events of the objects created under one SynchronizationContext,
/// in the order the pump took their notifications.  The pump only queues; one
/// drain at a time is posted to the context (Post, never Send), so a handler
/// runs on the creator's thread (a WinForms or WPF UI thread) and can call
/// back into the library freely.  Without a context (or with the default one,
/// which keeps no order) the drain runs on the thread pool, one at a time.
/// A close marker completes an object's disposal after every event queued
/// before it, and no event of the object is raised after it.
/// </summary>
internal sealed class EventDispatcher
{
    private const int EventsPerDrain = 256;
    private static readonly SendOrPostCallback DrainOnContext = state => ((EventDispatcher)state!).Drain();
    private static readonly WaitCallback DrainOnPool = state => ((EventDispatcher)state!).Drain();

    private readonly ConcurrentQueue<Item> _queue = new();
    private readonly QapiStack _stack;
    private int _scheduled;

    internal EventDispatcher(QapiStack stack, SynchronizationContext? context)
    {
        _stack = stack;
        Context = context;
    }

    internal SynchronizationContext? Context { get; }

    /// <summary>The context whose thread should raise the events of objects created now, or null for none.</summary>
    internal static SynchronizationContext? CurrentContext()
    {
        SynchronizationContext? current = SynchronizationContext.Current;
        return current == null || current.GetType() == typeof(SynchronizationContext) ? null : current;
    }

    /// <summary>Queues a notification for the target's events (pump thread).</summary>
    internal void Enqueue(QapiObject target, Notification note)
    {
        _queue.Enqueue(new Item(target, note, null));
        Schedule();
    }

    /// <summary>Queues the end of the target's events; the task completes when it is reached.</summary>
    internal Task Close(QapiObject target)
    {
        var closed = new TaskCompletionSource<bool>(TaskCreationOptions.RunContinuationsAsynchronously);
        _queue.Enqueue(new Item(target, null, closed));
        Schedule();
        return closed.Task;
    }

    private void Schedule()
    {
        if (Interlocked.Exchange(ref _scheduled, 1) != 0)
        {
            return;
        }
        if (Context != null)
        {
            Context.Post(DrainOnContext, this);
        }
        else
        {
            ThreadPool.UnsafeQueueUserWorkItem(DrainOnPool, this);
        }
    }

    private void Drain()
    {
        try
        {
            for (int i = 0; i < EventsPerDrain && _queue.TryDequeue(out Item item); i++)
            {
                if (item.Closed != null)
                {
                    item.Target.CloseEvents();
                    item.Closed.TrySetResult(true);
                    continue;
                }
                _stack.EventTaken();
                if (!item.Target.EventsClosed)
                {
                    Raise(item.Target, item.Note!);
                }
            }
        }
        finally
        {
            // What is left, or what came meanwhile, gets a drain of its own:
            // a handler that threw on a context still lets the rest through.
            Volatile.Write(ref _scheduled, 0);
            if (!_queue.IsEmpty)
            {
                Schedule();
            }
        }
    }

    private void Raise(QapiObject target, Notification note)
    {
        if (Context != null)
        {
            target.Raise(note);
            return;
        }
        try
        {
            target.Raise(note);
        }
        catch (Exception e)
        {
            // On the thread pool an escaping exception would end the process.
            _stack.Logger.LogError(e, "a handler of {Source} threw on {Notification}", target, note.GetType().Name);
        }
    }

    private readonly struct Item
    {
        internal Item(QapiObject target, Notification? note, TaskCompletionSource<bool>? closed)
        {
            Target = target;
            Note = note;
            Closed = closed;
        }

        internal QapiObject Target { get; }
        internal Notification? Note { get; }
        internal TaskCompletionSource<bool>? Closed { get; }
    }
}
