#!/bin/sh
# Runs the demo and checks its transcript for the lines that show each side
# of the library working against the simulator.
#   check-demo.sh DEMO SIM CONSOLE
set -u
demo=$1
transcript=$(QAPI_SIM=$2 QAPI_CONSOLE=$3 "$demo" 2>&1)
status=$?
echo "$transcript"
failed=0
expect() {
  if ! printf '%s\n' "$transcript" | grep -q -- "$1"; then
    echo "MISSING ($2): $1"
    failed=1
  fi
}
expect '^station 17: snapshot reg=registered call=0 alerting=0 allows=newcall .* id=17 ' 'registered snapshot'
expect '^sim: station 17: registered (token .*, records to 10.78.0.1)$' 'the library speaks from its link'
expect '^station 17: number "4711"$' 'caller number'
expect '^station 17: text "Call from 4711"$' 'display text'
expect '^station 17: snapshot reg=registered call=6 alerting=1 allows=answer ' 'incoming-call snapshot'
expect '^station 17:   "         4711       17Routed         "$' 'call list'
expect '^station 17:   "701 4712"$' 'park list'
expect '^station 17: answer: accepted$' 'the application answered'
expect '^sim: station 17: connected with 4711$' 'the answer reached the server'
expect '^station 17: snapshot reg=registered call=10 alerting=0 allows=digits,clear,hold' 'connected snapshot'
expect '^feed: record F 2024-05-17 10:30:00 duration=60 numbers=17,4711,1 numberD=1000 texts="4711","17","0815" ' 'decoded call record'
expect '^feed: record B 2024-05-17 10:31:00 .* text="Call record note 2" ' 'decoded text record'
expect '^adjunct: status up$' 'adjunct link up'
expect '^adjunct: route request handle=0x00000001 2024-05-17 11:00:00 numberA=4711 numberB=17 digitsA="4711" digitsB="17"$' 'route request'
expect '^adjunct: answer 0x00000001 with "200" value 0: accepted$' 'route request answered'
expect '^sim: adjunct: route response 1: digits "200" value 0$' 'the route answer reached the server'
expect '^console: end$' 'console ended'
if [ $status -ne 0 ]; then echo "the demo ended with status $status"; failed=1; fi
exit $failed
