using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Net.NetworkInformation;
using System.Threading;

namespace Quentara.Qapi.Tests.Support;

/// <summary>
/// Two hosts: this process (the library's) and a network namespace for
/// qapi-sim, joined by a veth pair, with the station group routed over it.
/// The station protocol multicasts, so the tests run only inside a private
/// network namespace (tests/support/netns-run.sh); the simulator's namespace
/// is held open by a sleeping process and vanishes with it.
/// </summary>
public sealed class SimHosts : IDisposable
{
    public const string SimAddress = "10.78.0.2";
    public const int StationPort = 5001;
    public const int FeedPort = 7001;
    public const int AdjunctPort = 7002;

    private readonly Process _holder;

    public SimHosts()
    {
        if (!InPrivateNamespace())
        {
            throw new InvalidOperationException(
                "the station protocol multicasts: run the tests under tests/support/netns-run.sh (scripts/test-dotnet.sh does)");
        }
        _holder = Process.Start(new ProcessStartInfo("unshare", "--net sleep 3600"))!;
        Namespace = $"/proc/{_holder.Id}/ns/net";
        Until(() => ReadLink(Namespace) != ReadLink("/proc/self/ns/net"), "the simulator's namespace");
        Command.Run("ip", "link", "set", "lo", "up");
        Command.Run("ip", "link", "add", "qtnet", "type", "veth", "peer", "name", "qtsim");
        Command.Run("ip", "link", "set", "qtsim", "netns", _holder.Id.ToString());
        Command.Run("ip", "addr", "add", "10.78.0.1/24", "dev", "qtnet");
        Command.Run("ip", "link", "set", "qtnet", "up");
        Command.Run("ip", "route", "replace", "224.0.0.0/4", "dev", "qtnet");
        There("ip", "link", "set", "lo", "up");
        There("ip", "addr", "add", SimAddress + "/24", "dev", "qtsim");
        There("ip", "link", "set", "qtsim", "up");
        There("ip", "route", "add", "224.0.0.0/4", "dev", "qtsim");
        // A device drops what is sent before its queue starts ("qdisc noop").
        Until(() => Active(Command.Run("ip", "-o", "link", "show", "dev", "qtnet"))
                    && Active(Command.Run("nsenter", "--net=" + Namespace, "ip", "-o", "link", "show", "dev", "qtsim")),
            "the veth pair's start");
    }

    public string Namespace { get; }

    public static bool InPrivateNamespace() =>
        NetworkInterface.GetAllNetworkInterfaces().All(i => i.Name == "lo" || i.Name.StartsWith("qt", StringComparison.Ordinal));

    public Simulator StartSimulator(params string[] options) => new(Namespace, options);

    public void Dispose()
    {
        _holder.Kill();
        _holder.WaitForExit();
        _holder.Dispose();
    }

    private void There(params string[] command) => Command.Run("nsenter", new[] { "--net=" + Namespace }.Concat(command).ToArray());

    private static bool Active(string line) => line.Contains(" state UP ") && !line.Contains(" qdisc noop ");

    private static string ReadLink(string path) => new FileInfo(path).LinkTarget ?? "";

    private static void Until(Func<bool> condition, string what)
    {
        DateTime deadline = DateTime.UtcNow.AddSeconds(5);
        while (!condition())
        {
            if (DateTime.UtcNow > deadline)
            {
                throw new TimeoutException(what + " did not happen");
            }
            Thread.Sleep(10);
        }
    }
}
