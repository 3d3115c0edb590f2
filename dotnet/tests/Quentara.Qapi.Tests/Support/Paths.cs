using System;
using System.IO;

namespace Quentara.Qapi.Tests.Support;

/// <summary>What the tests run against: the source tree's CMake build, unless the environment names other files.</summary>
internal static class Paths
{
    internal static string SourceRoot { get; } = FindSourceRoot();

    /// <summary>The library as QAPI_LIBRARY names it (the resolver's user path), else the plain build's.</summary>
    internal static string Library => Environment.GetEnvironmentVariable("QAPI_LIBRARY") is { Length: > 0 } named
        ? named
        : Path.Combine(SourceRoot, "build", "plain", "libqapi.so.0");

    internal static string Simulator => Environment.GetEnvironmentVariable("QAPI_SIM") is { Length: > 0 } named
        ? named
        : Path.Combine(SourceRoot, "build", "plain", "apps", "sim", "qapi-sim");

    /// <summary>The folder of the generated qapi_version.h that qapi.h includes.</summary>
    internal static string GeneratedInclude => Environment.GetEnvironmentVariable("QAPI_GENERATED_INCLUDE") is { Length: > 0 } named
        ? named
        : Path.Combine(SourceRoot, "build", "plain", "include");

    private static string FindSourceRoot()
    {
        for (string? dir = AppContext.BaseDirectory; dir != null; dir = Path.GetDirectoryName(dir))
        {
            if (File.Exists(Path.Combine(dir, "include", "qapi.h")))
            {
                return dir;
            }
        }
        throw new InvalidOperationException("the source tree (include/qapi.h) is not above " + AppContext.BaseDirectory);
    }
}
