using System;
using System.Diagnostics;

namespace Quentara.Qapi.Tests.Support;

internal static class Command
{
    /// <summary>Runs a program to its end; its standard output, or an exception with what it printed.</summary>
    internal static string Run(string program, params string[] arguments)
    {
        var start = new ProcessStartInfo(program) { RedirectStandardOutput = true, RedirectStandardError = true };
        foreach (string argument in arguments)
        {
            start.ArgumentList.Add(argument);
        }
        using Process process = Process.Start(start)!;
        string output = process.StandardOutput.ReadToEnd();
        string errors = process.StandardError.ReadToEnd();
        process.WaitForExit();
        if (process.ExitCode != 0)
        {
            throw new InvalidOperationException($"{program} {string.Join(" ", arguments)}: exit {process.ExitCode}\n{output}{errors}");
        }
        return output;
    }
}
