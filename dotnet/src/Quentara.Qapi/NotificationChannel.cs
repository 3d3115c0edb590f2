using System;
using System.Diagnostics.CodeAnalysis;
using System.Threading;
using System.Threading.Channels;
using System.Threading.Tasks;

namespace Quentara.Qapi;

/// <summary>
/// The stack's channel of notifications: bounded, written by the pump thread
/// alone, read by any number of readers.  The writer takes no lock and never
/// waits: a ring of slots that grows (up to the capacity) only when full,
/// and a notification that finds the channel at its capacity is refused.
/// Readers take notifications in order under a lock of their own, which the
/// writer takes only to grow the ring.  A waiting reader is woken once per
/// batch the pump took (<see cref="Wake"/>), not once per notification.
/// </summary>
internal sealed class NotificationChannel : ChannelReader<Notification>
{
    private const int FirstSize = 64;

    private readonly object _readLock = new();
    private readonly uint _capacity;
    private readonly TaskCompletionSource<bool> _completion = new(TaskCreationOptions.RunContinuationsAsynchronously);
    private Slot[] _slots = new Slot[FirstSize];
    private uint _head;      // the next to read; written by readers under _readLock
    private uint _tail;      // the next to write; written by the writer
    private uint _headSeen;  // the writer's last look at _head
    private uint _room;      // what the writer may hold before it looks again: the ring's size or the capacity
    private TaskCompletionSource<bool>? _waiter;
    private volatile bool _completed;

    internal NotificationChannel(int capacity)
    {
        _capacity = (uint)capacity;
        _room = Math.Min(_capacity, (uint)_slots.Length);
    }

    public override Task Completion => _completion.Task;

    public override bool CanCount => true;

    public override int Count => (int)unchecked(Volatile.Read(ref _tail) - Volatile.Read(ref _head));

    public override bool CanPeek => true;

    /// <summary>Adds a notification; false when the channel holds its capacity (writer only).</summary>
    internal bool TryWrite(Notification note)
    {
        uint tail = _tail;
        if (unchecked(tail - _headSeen) >= _room)
        {
            _headSeen = Volatile.Read(ref _head);
            uint held = unchecked(tail - _headSeen);
            if (held >= _capacity || (held >= (uint)_slots.Length && !Grow()))
            {
                return false;
            }
        }
        _slots[tail & (uint)(_slots.Length - 1)].Note = note;
        Volatile.Write(ref _tail, unchecked(tail + 1));
        return true;
    }

    /// <summary>Wakes the readers that wait, once the writer has written a batch (writer only).</summary>
    internal void Wake()
    {
        // The tail written before the look at the waiter; a reader that
        // registers does the opposite, so one of the two sees the other.
        Interlocked.MemoryBarrier();
        if (Volatile.Read(ref _waiter) != null)
        {
            ReleaseWaiter();
        }
    }

    /// <summary>No notification follows: readers take what is left, then the channel completes.</summary>
    internal void Complete()
    {
        _completed = true;
        Interlocked.MemoryBarrier();
        ReleaseWaiter();
        lock (_readLock)
        {
            CompleteWhenDrained();
        }
    }

    public override bool TryRead([MaybeNullWhen(false)] out Notification item)
    {
        lock (_readLock)
        {
            uint head = _head;
            if (head != Volatile.Read(ref _tail))
            {
                ref Slot slot = ref _slots[head & (uint)(_slots.Length - 1)];
                item = slot.Note!;
                slot.Note = null;
                Volatile.Write(ref _head, unchecked(head + 1));
                return true;
            }
            CompleteWhenDrained();
        }
        item = null;
        return false;
    }

    public override bool TryPeek([MaybeNullWhen(false)] out Notification item)
    {
        lock (_readLock)
        {
            bool any = _head != Volatile.Read(ref _tail);
            item = any ? _slots[_head & (uint)(_slots.Length - 1)].Note! : null;
            return any;
        }
    }

    public override ValueTask<bool> WaitToReadAsync(CancellationToken cancellationToken = default)
    {
        if (cancellationToken.IsCancellationRequested)
        {
            return new ValueTask<bool>(Task.FromCanceled<bool>(cancellationToken));
        }
        TaskCompletionSource<bool> waiter;
        lock (_readLock)
        {
            if (_head != Volatile.Read(ref _tail))
            {
                return new ValueTask<bool>(true);
            }
            if (_completed)
            {
                // The writer wrote its last before it said so: look again.
                CompleteWhenDrained();
                return new ValueTask<bool>(_head != Volatile.Read(ref _tail));
            }
            waiter = _waiter ??= new TaskCompletionSource<bool>(TaskCreationOptions.RunContinuationsAsynchronously);
        }
        // The waiter registered before the look at the tail (see Wake).
        Interlocked.MemoryBarrier();
        if (Volatile.Read(ref _head) != Volatile.Read(ref _tail) || _completed)
        {
            ReleaseWaiter();
        }
        return cancellationToken.CanBeCanceled
            ? WaitOrCancel(waiter.Task, cancellationToken)
            : new ValueTask<bool>(waiter.Task);
    }

    // Under _readLock: once the writer is done and everything is read.
    private void CompleteWhenDrained()
    {
        if (_completed && _head == Volatile.Read(ref _tail))
        {
            _completion.TrySetResult(true);
        }
    }

    // Readers wake with true: "look again"; one that finds nothing waits again,
    // or learns that the channel is done.
    private void ReleaseWaiter()
    {
        TaskCompletionSource<bool>? waiter;
        lock (_readLock)
        {
            waiter = _waiter;
            _waiter = null;
        }
        waiter?.TrySetResult(true);
    }

    // The ring is full below the capacity: twice the size (writer only).
    private bool Grow()
    {
        uint size = (uint)_slots.Length;
        if (size >= 1u << 30)
        {
            return false;
        }
        lock (_readLock)
        {
            var larger = new Slot[size * 2];
            for (uint at = _head; at != _tail; at = unchecked(at + 1))
            {
                larger[at & (size * 2 - 1)] = _slots[at & (size - 1)];
            }
            _slots = larger;
        }
        _room = Math.Min(_capacity, size * 2);
        return true;
    }

    // A struct, so that a store into the ring needs no check of the array's element type.
    private struct Slot
    {
        internal Notification? Note;
    }

    private static async ValueTask<bool> WaitOrCancel(Task<bool> waiter, CancellationToken cancellationToken)
    {
        var cancelled = new TaskCompletionSource<bool>(TaskCreationOptions.RunContinuationsAsynchronously);
        using (cancellationToken.Register(state => ((TaskCompletionSource<bool>)state!).TrySetCanceled(), cancelled))
        {
            Task<bool> first = await Task.WhenAny(waiter, cancelled.Task).ConfigureAwait(false);
            cancellationToken.ThrowIfCancellationRequested();
            return await first.ConfigureAwait(false);
        }
    }
}
