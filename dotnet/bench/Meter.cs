using System;
using System.Diagnostics;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;

namespace Quentara.Qapi.Bench;

/// <summary>
/// The notifications of every round and a checksum of them; the time, the
/// processor time and the bytes allocated (both of every thread) and the
/// notifications of the timed rounds; the size of one notification object,
/// to tell allocations from bytes.  As the C consumer counts them.
/// </summary>
internal sealed class Meter
{
    private const int ProcessCpuTime = 2;  // CLOCK_PROCESS_CPUTIME_ID
    private readonly Stopwatch _spent = new();
    private double _wallMicroseconds;
    private double _cpuMicroseconds;
    private double _cpuBefore;
    private long _allocated;
    private long _bytesBefore;
    private long _seenBefore;
    private long _taken;

    internal long Seen { get; private set; }

    private ulong Checksum { get; set; }

    internal void Count(ulong value)
    {
        Seen++;
        Checksum += value;
    }

    /// <summary>Before a round; every round is measured alike, so that the warm-up compiles what the timed ones run.</summary>
    internal void Begin()
    {
        _seenBefore = Seen;
        _bytesBefore = GC.GetTotalAllocatedBytes(precise: true);
        _cpuBefore = CpuMicroseconds();
        _spent.Restart();
    }

    /// <summary>After a round: a timed one counts.</summary>
    internal void End(bool timed)
    {
        _spent.Stop();
        double cpu = CpuMicroseconds() - _cpuBefore;
        long bytes = GC.GetTotalAllocatedBytes(precise: true) - _bytesBefore;
        if (!timed)
        {
            return;
        }
        _wallMicroseconds += _spent.Elapsed.TotalMicroseconds;
        _cpuMicroseconds += cpu;
        _allocated += bytes;
        _taken += Seen - _seenBefore;
    }

    /// <summary>
    /// Runs the rounds on a thread of their own, which waits for each tick's
    /// task: no pool thread waits for it or spins meanwhile, which would be
    /// the pool's cost, not the binding's.
    /// </summary>
    internal static void OnOwnThread(Action rounds)
    {
        var thread = new Thread(() => rounds()) { Name = "bench rounds" };
        thread.Start();
        thread.Join();
    }

    internal void Print(string mode, Type notification)
    {
        long taken = Math.Max(_taken, 1);
        Console.WriteLine($"dotnet {mode} notifications {_taken} us_per_notification {_wallMicroseconds / taken:F3}"
            + $" cpu_us_per_notification {_cpuMicroseconds / taken:F3} all {Seen} checksum {Checksum} bytes_per_notification {(double)_allocated / taken:F1} object_bytes {ObjectBytes(notification)}");
    }

    private static double CpuMicroseconds()
    {
        clock_gettime(ProcessCpuTime, out Timespec t);
        return t.Seconds * 1e6 + t.Nanoseconds / 1e3;
    }

    [DllImport("libc")]
    private static extern int clock_gettime(int clock, out Timespec time);

    private struct Timespec
    {
        public long Seconds;
        public long Nanoseconds;
    }

    // What one object of the type takes on the heap, as the allocator counts it.
    private static long ObjectBytes(Type type)
    {
        RuntimeHelpers.GetUninitializedObject(type);
        long before = GC.GetAllocatedBytesForCurrentThread();
        RuntimeHelpers.GetUninitializedObject(type);
        return GC.GetAllocatedBytesForCurrentThread() - before;
    }
}
