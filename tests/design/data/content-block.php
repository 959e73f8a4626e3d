        <?php
                   $sin = isset($_GET["in"]) ? $_GET["in"] : null;
                   $iet = sprintf("%04d", $sin);
                   $fp = fopen("etc/file.txt", "r");
                   $buff = "";
                   while (!feof($fp))
                   {
                       $buff = fgets($fp);
                       if (strstr($buff, $iet) != false)
                       {
                           $buff = sprintf("%s%s", "mf/pages/", substr($buff, 5, strlen($buff)-7));
                           $buff = trim($buff);
                           if (is_file($buff))
                               {
                               include_once $buff;
                               }
                           else{
                                echo "eror <br>";
                                echo $buff;
                                }
                           break;
                       }
                   }
        ?>
