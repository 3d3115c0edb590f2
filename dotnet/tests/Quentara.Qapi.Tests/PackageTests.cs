using System;
using System.Diagnostics;
using System.IO;
using System.IO.Compression;
using System.Linq;
using System.Text;
using System.Threading.Tasks;
using Quentara.Qapi.Tests.Support;
using Xunit;

namespace Quentara.Qapi.Tests;

/// <summary>
/// The package as an application gets it: the .nupkg that `dotnet pack` made
/// (scripts/test-dotnet.sh packs before the tests) holds the three native
/// files and the .NET Framework targets, restores from a local folder into a
/// fresh console project, and that project runs the contract against the
/// simulator with the library its resolver finds in runtimes/linux-x64/native.
/// </summary>
[Collection(SimCollection.Name)]
public sealed class PackageTests(SimHosts hosts)
{
    private static readonly string Version = typeof(QapiStack).Assembly.GetName().Version!.ToString(3);

    [Fact]
    public async Task ThePackedPackageRestoresIntoAFreshProjectAndRunsTheContract()
    {
        string packages = Environment.GetEnvironmentVariable("QAPI_DOTNET_PACKAGES") is { Length: > 0 } named
            ? named
            : Path.Combine(Paths.SourceRoot, "build", "dotnet", "packages");
        string nupkg = Path.Combine(packages, $"Quentara.Qapi.{Version}.nupkg");
        Assert.True(File.Exists(nupkg), nupkg + " is missing: dotnet pack dotnet/src/Quentara.Qapi (scripts/test-dotnet.sh does)");
        using (ZipArchive archive = ZipFile.OpenRead(nupkg))
        {
            string[] entries = archive.Entries.Select(e => e.FullName).ToArray();
            Assert.Contains("runtimes/win-x86/native/qapi.dll", entries);
            Assert.Contains("runtimes/win-x64/native/qapi.dll", entries);
            Assert.Contains("runtimes/linux-x64/native/libqapi.so.0", entries);
            Assert.Contains("buildTransitive/Quentara.Qapi.targets", entries);
            Assert.Contains("lib/netstandard2.0/Quentara.Qapi.dll", entries);
            Assert.Contains("lib/net8.0/Quentara.Qapi.dll", entries);
        }

        string output = await BuildAndRunContract($"""<PackageReference Include="Quentara.Qapi" Version="{Version}" />""", packages, null);
        Assert.Contains("contract passed", output);
    }

    [Fact]
    public async Task TheNetstandardAssemblyRunsTheContractOnLinux()
    {
        // What a .NET 6 application on Linux gets: the netstandard2.0 build,
        // which finds the library through the resolver it installs by
        // reflection.  A reference to one build of a project brings none of
        // that build's packages: they are named here.
        string library = Path.Combine(Paths.SourceRoot, "dotnet", "src", "Quentara.Qapi", "Quentara.Qapi.csproj");
        string output = await BuildAndRunContract($"""
            <ProjectReference Include="{library}" SetTargetFramework="TargetFramework=netstandard2.0" />
            <PackageReference Include="Microsoft.Bcl.AsyncInterfaces" Version="8.0.0" />
            <PackageReference Include="System.Threading.Channels" Version="8.0.0" />
            """, null, Paths.Library);
        Assert.Contains("contract passed", output);
        Assert.Contains("assembly .NETStandard,Version=v2.0", output);
    }

    /// <summary>
    /// A fresh console project of the contract with <paramref name="reference"/>,
    /// built and run against the simulator.  It restores into a folder of its
    /// own (no package cached before can stand in for the one packed now) from
    /// <paramref name="packages"/> and the packages this machine holds already:
    /// the private namespace reaches no feed.
    /// </summary>
    private async Task<string> BuildAndRunContract(string reference, string? packages, string? libraryPath)
    {
        string cached = Environment.GetEnvironmentVariable("NUGET_PACKAGES") is { Length: > 0 } folder
            ? folder
            : Path.Combine(Environment.GetFolderPath(Environment.SpecialFolder.UserProfile), ".nuget", "packages");
        string project = Directory.CreateTempSubdirectory("qapi-consumer-").FullName;
        try
        {
            File.WriteAllText(Path.Combine(project, "consumer.csproj"), $"""
                <Project Sdk="Microsoft.NET.Sdk">
                  <PropertyGroup>
                    <OutputType>Exe</OutputType>
                    <TargetFramework>net10.0</TargetFramework>
                    <Nullable>enable</Nullable>
                    <RestorePackagesPath>{project}/packages</RestorePackagesPath>
                  </PropertyGroup>
                  <ItemGroup>
                    {reference}
                  </ItemGroup>
                </Project>
                """);
            string local = packages == null ? "" : $"""<add key="local" value="{packages}" />""";
            File.WriteAllText(Path.Combine(project, "nuget.config"), $"""
                <configuration>
                  <packageSources><clear />{local}<add key="cached" value="{cached}" /></packageSources>
                </configuration>
                """);
            File.Copy(Path.Combine(Paths.SourceRoot, "dotnet", "tests", "Contract", "Program.cs"), Path.Combine(project, "Program.cs"));
            Command.Run("dotnet", "build", project, "-c", "Release", "--nologo", "-v", "quiet");

            using Simulator sim = hosts.StartSimulator();
            return await RunContract(Path.Combine(project, "bin", "Release", "net10.0", "consumer.dll"), sim, libraryPath);
        }
        finally
        {
            Directory.Delete(project, recursive: true);
        }
    }

    private static async Task<string> RunContract(string program, Simulator sim, string? libraryPath)
    {
        var start = new ProcessStartInfo("dotnet") { RedirectStandardOutput = true, RedirectStandardError = true };
        start.ArgumentList.Add(program);
        start.ArgumentList.Add(SimHosts.SimAddress);
        start.Environment.Remove("QAPI_LIBRARY");  // the package's own file, found by its resolver, unless named
        if (libraryPath != null)
        {
            start.Environment["QAPI_LIBRARY"] = libraryPath;
        }
        using Process process = Process.Start(start)!;
        var output = new StringBuilder();
        var registered = new TaskCompletionSource(TaskCreationOptions.RunContinuationsAsynchronously);
        process.OutputDataReceived += (_, e) =>
        {
            lock (output)
            {
                output.AppendLine(e.Data);
            }
            if (e.Data == "registered")
            {
                registered.TrySetResult();
            }
        };
        process.ErrorDataReceived += (_, e) =>
        {
            lock (output)
            {
                output.AppendLine(e.Data);
            }
        };
        process.BeginOutputReadLine();
        process.BeginErrorReadLine();
        await Task.WhenAny(registered.Task, process.WaitForExitAsync(), Task.Delay(TimeSpan.FromSeconds(30)));
        sim.Send("ring 17 4711");
        sim.Send("route 4711 17 4711 17");
        await process.WaitForExitAsync().WaitAsync(TimeSpan.FromSeconds(60));
        lock (output)
        {
            return output.ToString();
        }
    }
}
