#!/usr/bin/perl
# widl stamps a type library with the time it ran, as text and as a 32-bit number: both become the
# epoch, so that two builds of the same sources give the same bytes.
# usage: widl-no-timestamp.pl <file.tlb>
use strict;
use warnings;
use POSIX qw(mktime tzset);

my $file = shift or die "usage: widl-no-timestamp.pl <file.tlb>\n";
open(my $in, '<:raw', $file) or die "$file: $!\n";
my $data = do { local $/; <$in> };
close $in;

my %months = (Jan => 0, Feb => 1, Mar => 2, Apr => 3, May => 4, Jun => 5,
              Jul => 6, Aug => 7, Sep => 8, Oct => 9, Nov => 10, Dec => 11);
$data =~ /Created by WIDL version [^\n]* at ((\w{3}) (\w{3}) ([ \d]\d) (\d\d):(\d\d):(\d\d) (\d{4}))\n/
  or die "$file: no creation stamp found\n";
my ($text, $month, $day, $hour, $minute, $second, $year) = ($1, $3, $4, $5, $6, $7, $8);
$ENV{TZ} = 'UTC';
tzset();
my $number = pack('V', mktime($second, $minute, $hour, $day, $months{$month}, $year - 1900));
my $count = () = $data =~ /\Q$number\E/g;
die "$file: the creation time appears $count times as a number, expected once\n" unless $count == 1;
$data =~ s/\Q$text\E/Thu Jan  1 00:00:00 1970/;
$data =~ s/\Q$number\E/\0\0\0\0/;

open(my $out, '>:raw', $file) or die "$file: $!\n";
print $out $data;
close $out or die "$file: $!\n";
