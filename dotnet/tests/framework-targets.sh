#!/bin/sh
# The package's targets for .NET Framework applications, which read no
# runtimes/ folder: a net462 console project that restores the packed
# package (from build/dotnet/packages, and the reference assemblies from the
# machine's feed) is built as x86, x64 and AnyCPU, and its output must hold
# the right qapi.dll: the 32-bit one (stdcall, machine 014c) beside an x86
# application, the 64-bit one (8664) beside an x64 one, and both under
# runtimes/win-x86/native and runtimes/win-x64/native for every platform (an
# AnyCPU application loads the one of its process's bitness).  Nothing runs:
# the build alone is checked.  The last line says "framework targets passed"
# or "framework targets FAILED: WHY".
#   framework-targets.sh
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
packages=$root/build/dotnet/packages
version=$(sed -n 's/^project(QapiDll VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/app.csproj" <<EOF
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup>
    <OutputType>Exe</OutputType>
    <TargetFramework>net462</TargetFramework>
    <RestorePackagesPath>$work/packages</RestorePackagesPath>
    <PlatformTarget Condition="'\$(AppPlatformTarget)' != ''">\$(AppPlatformTarget)</PlatformTarget>
  </PropertyGroup>
  <ItemGroup>
    <PackageReference Include="Quentara.Qapi" Version="$version" />
    <PackageReference Include="Microsoft.NETFramework.ReferenceAssemblies" Version="1.0.3" PrivateAssets="all" />
  </ItemGroup>
</Project>
EOF
printf 'class App { static void Main() { System.Console.WriteLine(typeof(Quentara.Qapi.QapiStack)); } }\n' >"$work/App.cs"
cat >"$work/nuget.config" <<EOF
<configuration><packageSources><add key="local" value="$packages" /></packageSources></configuration>
EOF

# The machine type of a PE file: 014c (x86) or 8664 (x64).
machine() {
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}
fail() { echo "framework targets FAILED: $*"; exit 1; }
# x86 as a solution's platform chooses it (the SDK derives the platform
# target), x64 as a project file names it, AnyCPU by default.
for platform in x86 x64 AnyCPU; do
  out=$work/out/$platform
  case $platform in
    x86) choice=-p:Platform=x86 ;;
    x64) choice=-p:AppPlatformTarget=x64 ;;
    *) choice= ;;
  esac
  dotnet build "$work" -c Release $choice -o "$out" --nologo -v quiet >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; fail "the $platform build failed"; }
  [ "$(machine "$out/runtimes/win-x86/native/qapi.dll" 2>/dev/null)" = 014c ] || fail "$platform: no 32-bit runtimes/win-x86/native/qapi.dll"
  [ "$(machine "$out/runtimes/win-x64/native/qapi.dll" 2>/dev/null)" = 8664 ] || fail "$platform: no 64-bit runtimes/win-x64/native/qapi.dll"
  case $platform in
    x86) want=014c ;;
    x64) want=8664 ;;
    *) want= ;;
  esac
  if [ -n "$want" ]; then
    [ "$(machine "$out/qapi.dll" 2>/dev/null)" = "$want" ] || fail "$platform: qapi.dll beside the application is not the $platform one"
  elif [ -e "$out/qapi.dll" ]; then
    fail "AnyCPU: a qapi.dll of one bitness beside the application"
  fi
  echo "$platform: $(cd "$out" && find . -name qapi.dll | sort | tr '\n' ' ')" >&2
done
echo "framework targets passed"
