using System;
using System.Diagnostics;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

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

    internal void Begin()
    {
        _seenBefore = Seen;
        _bytesBefore = GC.GetTotalAllocatedBytes(precise: true);
        _cpuBefore = CpuMicroseconds();
        _spent.Start();
    }

    internal void End()
    {
        _spent.Stop();
        _cpuMicroseconds += CpuMicroseconds() - _cpuBefore;
        _allocated += GC.GetTotalAllocatedBytes(precise: true) - _bytesBefore;
        _taken += Seen - _seenBefore;
    }

    internal void Print(string mode, Type notification)
    {
        long taken = Math.Max(_taken, 1);
        Console.WriteLine($"dotnet {mode} notifications {_taken} us_per_notification {_spent.Elapsed.TotalMicroseconds / taken:F3}"
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
