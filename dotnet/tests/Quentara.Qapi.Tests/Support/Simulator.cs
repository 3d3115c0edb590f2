using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Text.RegularExpressions;
using System.Threading;

namespace Quentara.Qapi.Tests.Support;

/// <summary>qapi-sim in the simulator's namespace, driven through its standard input.</summary>
public sealed class Simulator : IDisposable
{
    private readonly Process _process;
    private readonly List<string> _lines = new();
    private bool _disposed;

    internal Simulator(string netns, string[] options)
    {
        var start = new ProcessStartInfo("nsenter")
        {
            RedirectStandardInput = true,
            RedirectStandardOutput = true,
            RedirectStandardError = true,
        };
        foreach (string argument in new[]
                 {
                     "--net=" + netns, Paths.Simulator, "--station-port", SimHosts.StationPort.ToString(),
                     "--feed-port", SimHosts.FeedPort.ToString(), "--feed-records", "3", "--records-per-poll", "2",
                     "--adjunct-port", SimHosts.AdjunctPort.ToString(), "--listen-address", SimHosts.SimAddress, "--seconds", "120",
                 }.Concat(options))
        {
            start.ArgumentList.Add(argument);
        }
        _process = Process.Start(start)!;
        _process.OutputDataReceived += (_, e) => Take(e.Data);
        _process.ErrorDataReceived += (_, e) => Take(e.Data);
        _process.BeginOutputReadLine();
        _process.BeginErrorReadLine();
        Expect("^sim: ready");
    }

    public void Send(string command)
    {
        _process.StandardInput.WriteLine(command);
        _process.StandardInput.Flush();
    }

    /// <summary>The first line that matches <paramref name="pattern"/>, waiting for it up to <paramref name="seconds"/>.</summary>
    public string Expect(string pattern, double seconds = 10)
    {
        var regex = new Regex(pattern);
        DateTime deadline = DateTime.UtcNow.AddSeconds(seconds);
        lock (_lines)
        {
            while (true)
            {
                string? found = _lines.FirstOrDefault(regex.IsMatch);
                if (found != null)
                {
                    return found;
                }
                TimeSpan left = deadline - DateTime.UtcNow;
                if (left <= TimeSpan.Zero)
                {
                    throw new TimeoutException($"the simulator never said /{pattern}/:\n" + string.Join("\n", _lines));
                }
                Monitor.Wait(_lines, left);
            }
        }
    }

    public void Dispose()
    {
        if (_disposed)
        {
            return;
        }
        _disposed = true;
        if (!_process.HasExited)
        {
            Send("quit");
            if (!_process.WaitForExit(5000))
            {
                _process.Kill();
            }
        }
        _process.WaitForExit();
        _process.Dispose();
    }

    private void Take(string? line)
    {
        if (line == null)
        {
            return;
        }
        if (Environment.GetEnvironmentVariable("QAPI_SIM_TRACE") is { Length: > 0 } trace)
        {
            System.IO.File.AppendAllText(trace, $"{_process.Id} {DateTime.Now:HH:mm:ss.fff} {line}\n");
        }
        lock (_lines)
        {
            _lines.Add(line);
            Monitor.PulseAll(_lines);
        }
    }
}
