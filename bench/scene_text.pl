#!/usr/bin/perl
# Prints the start of each file named on standard input, one file every
# 20 ms, so that a terminal scrolls steadily. Bytes that do not print show
# as dots.
use strict;
use warnings;

$| = 1;
while (my $name = <STDIN>) {
    chomp $name;
    print "$name\n";
    if (open my $file, '<', $name) {
        my $head = '';
        read $file, $head, 300;
        $head =~ tr/\x20-\x7e\n/./c;
        print $head;
    }
    select undef, undef, undef, 0.02;
}
