#!/usr/bin/env python3
# The flights of the version-1 library kept for the migration test: one with a one-record EGT spike,
# one with a CHT probe reading 0, one sound. The library itself was written by the program of that
# version: korvel-cli library --library library-v1 import library-v1-flights
import sys
def flight(start_h, n, mod, name):
    lines=["FLIGHT 0001"]
    for i in range(n):
        s=start_h*3600+i*6
        t="06/%02d/26 %02d:%02d:%02d"%(10+start_h%10, (s//3600)%24,(s//60)%60,s%60)
        f=[0]*28
        f[0]=i; f[1]=2400+(i%3)*50; f[2]=250; f[3]=240; f[4]=519; f[5]=138; f[6]=250; f[7]=750; f[8]=600; f[9]=480; f[10]=5200; f[11]=95
        for c in range(6):
            f[16+c]=1300+c*10+(i%4)
            f[22+c]=350+c*5+(i%3)
        mod(i,f)
        lines.append(t+","+",".join(str(v) for v in f))
    lines.append("END")
    open("library-v1-flights/"+name,"w",newline="").write("\r\n".join(lines)+"\r\n")
def spike(i,f):
    if i==10: f[18]=1801
def zero(i,f):
    if i>=12 and i<15: f[25]=0
def plain(i,f): pass
flight(1,40,spike,"a_spike.txt")
flight(2,40,zero,"b_cht_zero.txt")
flight(3,30,plain,"c_plain.txt")
