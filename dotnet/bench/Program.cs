// The .NET side of scripts/bench-dotnet.sh: the same rounds as the C
// consumer (c_consumer.c), on the manual clock, through the binding: each
// round advances one tick through the stack (the call marshalled to the
// pump, the tick, each notification copied into its object and written to
// the channel) and reads the channel dry.  Then, in the stations mode, the
// round trip of a station operation's Task.
//   Bench stations FILE WARMUP ROUNDS FIRST COUNT STATION...
//   Bench records SERVER WARMUP COUNT
using System;
using System.Threading.Tasks;
using Quentara.Qapi.Bench;

return args.Length > 0 && args[0] == "stations" ? await StationRounds.Run(args)
    : args.Length > 0 && args[0] == "records" ? await RecordRounds.Run(args)
    : Usage();

static int Usage()
{
    Console.Error.WriteLine("usage: Bench stations FILE WARMUP ROUNDS FIRST COUNT STATION... | records SERVER WARMUP COUNT");
    return 2;
}
