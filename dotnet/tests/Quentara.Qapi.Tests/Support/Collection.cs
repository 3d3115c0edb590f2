using Xunit;

// The library is process-wide: one stack at a time, so no test runs beside another.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace Quentara.Qapi.Tests.Support;

/// <summary>The tests that need the simulator's host share it.</summary>
[CollectionDefinition(Name)]
public sealed class SimCollection : ICollectionFixture<SimHosts>
{
    public const string Name = "simulator";
}
